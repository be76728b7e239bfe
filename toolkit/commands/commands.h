// The velt subcommands. Each takes the arguments after its name, prints its
// help for --help, and returns the exit status (see command_line.h).
#ifndef VELT_TOOLKIT_COMMANDS_H
#define VELT_TOOLKIT_COMMANDS_H

#include <string>
#include <vector>

// PNG frames to a VELT file through the sandboxed encoder module.
int run_encode_command(const std::vector<std::string>& args);
// Joins the part files of encode --part into one VELT file.
int run_join_command(const std::vector<std::string>& args);
// Checks a VELT file and prints its header, frame records and totals.
int run_info_command(const std::vector<std::string>& args);
// Writes a VELT file's frames as RGBA PNG files.
int run_decode_command(const std::vector<std::string>& args);
// Measures a VELT file's frames against their source frames.
int run_compare_command(const std::vector<std::string>& args);

#endif
