// The options that say how a command's frames are read (--pad, --raw WxH),
// and frames from standard input, spooled to an unnamed file.
#ifndef VELT_TOOLKIT_INPUT_OPTIONS_H
#define VELT_TOOLKIT_INPUT_OPTIONS_H

#include <string>

#include "command_line.h"
#include "input_reader.h"
#include "stream_spool.h"

// Resolves --pad and --raw WxH (only for INPUT -, `from_stdin`) for
// `command`; 0 or a usage error status, reported.
int read_input_settings(const std::string& command, const ParsedArguments& parsed,
                        bool from_stdin, InputSettings* settings);

// Spools standard input: raw frames when `settings` says so, else PNG
// images. False with `error` set.
bool spool_standard_input(const InputSettings& settings, SpooledFrames* spooled,
                          std::string* error);

#endif
