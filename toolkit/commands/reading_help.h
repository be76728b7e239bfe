// The help texts about reading modes that info, decode and compare share.
#ifndef VELT_TOOLKIT_READING_HELP_H
#define VELT_TOOLKIT_READING_HELP_H

// The --mode option's lines for a reading command.
extern const char kReadingModeOption[];
// Why reading needs a mode: bit 7 of the rate code only marks that some
// encoding flag was set.
extern const char kReadingModeNote[];

#endif
