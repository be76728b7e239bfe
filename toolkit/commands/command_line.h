// Command-line parsing shared by the velt subcommands: long options with or
// without '=', positional arguments, strict numbers and mode names.
#ifndef VELT_TOOLKIT_COMMAND_LINE_H
#define VELT_TOOLKIT_COMMAND_LINE_H

#include <map>
#include <optional>
#include <string>
#include <vector>

// One option a subcommand accepts: "--name" alone, or "--name VALUE" /
// "--name=VALUE" when it takes a value. `short_name` ('q' for -q) may be 0.
struct OptionSpec {
  std::string name;
  char short_name;
  bool takes_value;
};

struct ParsedArguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // by long name; "" for flags

  bool has(const std::string& name) const { return options.count(name) != 0; }
  // The option's value, or `fallback` when it was not given.
  std::string value_or(const std::string& name, const std::string& fallback) const;
};

// Exit statuses of every velt command.
enum {
  EXIT_OK = 0,
  EXIT_FAILED = 1,     // the command ran and failed: bad input file, unreadable frame, ...
  EXIT_BAD_USAGE = 2,  // the command line itself is wrong
};

// Prints "velt: COMMAND: MESSAGE" with a pointer to the command's help, one
// line on standard error; returns EXIT_BAD_USAGE.
int report_usage_error(const std::string& command, const std::string& message);
// Prints "velt: MESSAGE" on standard error; returns EXIT_FAILED.
int report_failure(const std::string& message);

// Splits `args` into options and positional arguments. "--" ends the
// options; "-" alone is positional. A repeated option keeps its last value.
// Returns false with `error` set on an unknown option, a missing value, or a
// value given to an option without one.
bool parse_arguments(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                     ParsedArguments* parsed, std::string* error);

// What a subcommand takes: its options (--help and -h come with every
// command), the names of its positional arguments, and its help text.
struct CommandSyntax {
  std::string name;
  std::vector<OptionSpec> options;
  std::vector<std::string> positional;  // e.g. {"FILE.velt", "OUT_PATTERN"}
  std::string help;
  bool last_repeats = false;  // the last positional argument may come more than once
};

// Parses a subcommand's arguments. Returns the exit status when the command
// is already done (help printed: EXIT_OK; a wrong command line reported:
// EXIT_BAD_USAGE), or nothing when it goes on with `parsed`.
std::optional<int> parse_command(const CommandSyntax& syntax, const std::vector<std::string>& args,
                                 ParsedArguments* parsed);

// A whole decimal number in [min, max], or nothing (no sign games, no
// trailing text, no overflow).
std::optional<long> parse_number(const std::string& text, long min, long max);

#endif
