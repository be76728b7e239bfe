#include "reading_help.h"

const char kReadingModeOption[] =
    "  --mode MODE   how to read a file whose header marks non-zero flags:\n"
    "                opaque, alpha, opaque12 or alpha12 (default alpha)\n";

const char kReadingModeNote[] =
    "A file written in mode opaque says so in its header and is always read\n"
    "that way. For the other modes the header only marks that some flag was\n"
    "set, not which: such a file is read as alpha, the only other mode with\n"
    "8-byte records, unless --mode names another. A file of 12-byte records\n"
    "needs --mode opaque12 or alpha12.\n";
