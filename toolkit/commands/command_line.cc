#include "command_line.h"

#include <cstdio>
#include <cstdlib>

namespace {

const OptionSpec* find_long(const std::vector<OptionSpec>& specs, const std::string& name) {
  for (const OptionSpec& option : specs)
    if (option.name == name) return &option;
  return nullptr;
}

const OptionSpec* find_short(const std::vector<OptionSpec>& specs, char name) {
  for (const OptionSpec& option : specs)
    if (option.short_name != 0 && option.short_name == name) return &option;
  return nullptr;
}

}  // namespace

int report_usage_error(const std::string& command, const std::string& message) {
  std::fprintf(stderr, "velt: %s: %s (see 'velt %s --help')\n", command.c_str(), message.c_str(),
               command.c_str());
  return EXIT_BAD_USAGE;
}

int report_failure(const std::string& message) {
  std::fprintf(stderr, "velt: %s\n", message.c_str());
  return EXIT_FAILED;
}

std::string ParsedArguments::value_or(const std::string& name, const std::string& fallback) const {
  auto found = options.find(name);
  return found == options.end() ? fallback : found->second;
}

bool parse_arguments(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                     ParsedArguments* parsed, std::string* error) {
  bool options_ended = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      parsed->positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    const OptionSpec* option = nullptr;
    std::optional<std::string> inline_value;
    if (arg[1] == '-') {
      size_t equals = arg.find('=');
      std::string name =
          arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
      if (equals != std::string::npos) inline_value = arg.substr(equals + 1);
      option = find_long(specs, name);
    } else if (arg.size() == 2) {
      option = find_short(specs, arg[1]);
    }
    if (option == nullptr) {
      *error = "unknown option '" + arg + "'";
      return false;
    }
    if (!option->takes_value) {
      if (inline_value) {
        *error = "option '--" + option->name + "' takes no value";
        return false;
      }
      parsed->options[option->name] = "";
      continue;
    }
    if (!inline_value) {
      if (i + 1 == args.size()) {
        *error = "option '--" + option->name + "' needs a value";
        return false;
      }
      inline_value = args[++i];
    }
    parsed->options[option->name] = *inline_value;
  }
  return true;
}

std::optional<int> parse_command(const CommandSyntax& syntax, const std::vector<std::string>& args,
                                 ParsedArguments* parsed) {
  std::vector<OptionSpec> options = syntax.options;
  options.push_back({"help", 'h', false});
  std::string error;
  if (!parse_arguments(args, options, parsed, &error))
    return report_usage_error(syntax.name, error);
  if (parsed->has("help")) {
    std::fputs(syntax.help.c_str(), stdout);
    return EXIT_OK;
  }
  size_t given = parsed->positional.size(), wanted = syntax.positional.size();
  if (given != wanted && !(syntax.last_repeats && given > wanted)) {
    std::string expected;
    for (size_t i = 0; i < syntax.positional.size(); ++i)
      expected += (i == 0                              ? ""
                   : i + 1 == syntax.positional.size() ? " and "
                                                       : ", ") +
                  syntax.positional[i];
    if (syntax.last_repeats) expected += "...";
    return report_usage_error(syntax.name, "expected " + expected);
  }
  return std::nullopt;
}

std::optional<long> parse_number(const std::string& text, long min, long max) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  for (char c : text)
    if (c < '0' || c > '9') return std::nullopt;
  long value = std::strtol(text.c_str(), nullptr, 10);
  if (value < min || value > max) return std::nullopt;
  return value;
}
