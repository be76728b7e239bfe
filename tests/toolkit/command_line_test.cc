#include "command_line.h"

#include <gtest/gtest.h>

namespace {

const std::vector<OptionSpec> kSpecs = {
    {"fps", 0, true}, {"mode", 0, true}, {"quiet", 'q', false}, {"help", 'h', false}};

TEST(ParseArguments, AcceptsTheUsualForms) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;
    const char* why;
  };
  const Case cases[] = {
      {{"in", "out", "--fps", "30"}, {"in", "out"}, {{"fps", "30"}}, "value as the next argument"},
      {{"--fps=30", "in"}, {"in"}, {{"fps", "30"}}, "value after '='"},
      {{"-q", "in"}, {"in"}, {{"quiet", ""}}, "short flag"},
      {{"--fps", "1", "--fps", "2"}, {}, {{"fps", "2"}}, "the last of a repeated option wins"},
      {{"--", "--fps", "-"}, {"--fps", "-"}, {}, "'--' ends the options"},
      {{"-", "out"}, {"-", "out"}, {}, "'-' alone is positional"},
      {{"--mode="}, {}, {{"mode", ""}}, "an empty value is still a value"},
  };
  for (const Case& c : cases) {
    ParsedArguments parsed;
    std::string error;
    ASSERT_TRUE(parse_arguments(c.args, kSpecs, &parsed, &error)) << c.why << ": " << error;
    EXPECT_EQ(parsed.positional, c.positional) << c.why;
    EXPECT_EQ(parsed.options, c.options) << c.why;
  }
}

TEST(ParseArguments, RefusesWhatItDoesNotKnow) {
  struct Case {
    std::vector<std::string> args;
    const char* error;
  };
  const Case cases[] = {
      {{"--frames", "3"}, "unknown option '--frames'"},
      {{"-x"}, "unknown option '-x'"},
      {{"-qq"}, "unknown option '-qq'"},
      {{"in", "--fps"}, "option '--fps' needs a value"},
      {{"--quiet=yes"}, "option '--quiet' takes no value"},
  };
  for (const Case& c : cases) {
    ParsedArguments parsed;
    std::string error;
    EXPECT_FALSE(parse_arguments(c.args, kSpecs, &parsed, &error)) << c.error;
    EXPECT_EQ(error, c.error);
  }
}

TEST(ParseNumber, TakesOnlyWholeNumbersInRange) {
  struct Case {
    const char* text;
    std::optional<long> value;
  };
  const Case cases[] = {
      {"20", 20}, {"1", 1}, {"128", 128}, {"0", std::nullopt},   {"129", std::nullopt},
      {"20fps", std::nullopt}, {"-5", std::nullopt}, {"+5", std::nullopt}, {" 5", std::nullopt},
      {"", std::nullopt}, {"99999999999999999999999", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(parse_number(c.text, 1, 128), c.value) << c.text;
}

}  // namespace
