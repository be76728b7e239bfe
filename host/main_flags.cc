// velt-encode-flags: velt-encode with the encoding flags given on the command
// line (bit 0 alpha-aware blocks, bit 1 12-byte records).
#include <cstdio>
#include <cstring>

#include "driver.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::printf("Usage: %s <input_pattern> <output.velt> <fps> <flags>\n", argv[0]);
    std::printf("Example: %s /tmp/input_X.png /tmp/output.velt 20 1\n", argv[0]);
    std::puts("\nflags: 0 plain, 1 alpha-aware, 2 12-byte records, 3 alpha-aware 12-byte records.");
    return 1;
  }
  // exactly the texts 0 to 3: any other number would reach the encoder as the
  // mode of its two low bits plus a header mark, and other spellings ("+1",
  // "01", " 1") are refused too, so that what is typed is the mode used
  const char* flags = argv[4];
  if (std::strlen(flags) != 1 || flags[0] < '0' || flags[0] > '3') {
    std::fprintf(stderr, "velt-encode-flags: flags must be 0, 1, 2 or 3, not '%s'\n", flags);
    return 1;
  }
  return run_encoder("velt-encode-flags", argv[1], argv[2], parse_int_argument(argv[3]),
                     flags[0] - '0');
}
