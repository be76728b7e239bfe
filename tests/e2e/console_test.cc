// What velt-encode prints and returns: usage, banner, memory line, result
// line, and how the frame-rate argument is read.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace e2e {
namespace {


// One 4x4 red frame at the given rate code: frame 0 in full, then the
// closing record with nothing changed.
Bytes one_red_frame_file(uint8_t rate_code) {
  return concat({header(rate_code, 1, 0, 0), {0x80}, kRedRecord, {0x00}});
}

TEST(Console, FewerThanThreeArgumentsPrintUsageAndReturn1) {
  TempDir dir;
  const std::string program = VELT_ENCODE_PATH;
  const std::string usage =
      "Usage: " + program + " <input_pattern> <output.velt> <fps>\n" +
      "Example: " + program + " /tmp/input_X.png /tmp/output.velt 20\n" +
      "\nThe encoder auto-discovers frames from the input pattern.\n"
      "fps = frames per second (2-120, matches GIF frame rate).\n";
  const std::string pattern = write_sequence(dir, "f", {Image(4, 4, kRed)});
  const std::string output = dir.file("out.velt");
  const std::vector<std::vector<std::string>> cases = {{}, {pattern}, {pattern, output}};
  for (const auto& args : cases) {
    SCOPED_TRACE(std::to_string(args.size()) + " arguments");
    RunResult r = run_encode(args);
    EXPECT_EQ(r.out, usage);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_FALSE(file_exists(output)) << "nothing may run without all three arguments";
  }
}

TEST(Console, SuccessfulRunPrintsBannerMemoryLineAndSuccess) {
  TempDir dir;
  const std::string pattern = write_sequence(dir, "in", {Image(4, 4, kRed)});
  const std::string output = dir.file("out.velt");
  RunResult r = run_encode({pattern, output, "20"});
  EXPECT_EQ(r.out, banner(pattern, output, 20) + kSuccessLine);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_TRUE(same_bytes(read_file(output), one_red_frame_file(0x27)));
}

TEST(Console, ArgumentsAfterTheThirdAreIgnored) {
  TempDir dir;
  const std::string pattern = write_sequence(dir, "in", {Image(4, 4, kRed)});
  const std::string output = dir.file("out.velt");
  RunResult r = run_encode({pattern, output, "20", "7", "--verbose"});
  EXPECT_EQ(r.out, banner(pattern, output, 20) + kSuccessLine);
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_TRUE(same_bytes(read_file(output), one_red_frame_file(0x27)));
}

TEST(Console, FrameRateIsParsedLikeStrtolAndCutTo32Bits) {
  struct Case {
    const char* text;
    int shown;          // value on the FPS line
    uint8_t rate_code;  // (2 * fps - 1) mod 256
    const char* why;
  };
  const Case cases[] = {
      {"abc", 0, 0xFF, "no digits give 0"},
      {"20fps", 20, 0x27, "parsing stops at the first non-digit"},
      {"  7", 7, 0x0D, "leading blanks are skipped"},
      {"+120", 120, 0xEF, "a plus sign is accepted"},
      {"-3", -3, 0xF9, "negative rates are not refused"},
      {"4294967297", 1, 0x01, "the long result is cut to 32 bits"},
  };
  TempDir dir;
  const std::string pattern = write_sequence(dir, "in", {Image(4, 4, kRed)});
  const std::string output = dir.file("out.velt");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + ": " + c.why);
    RunResult r = run_encode({pattern, output, c.text});
    EXPECT_EQ(r.out, banner(pattern, output, c.shown) + kSuccessLine);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_TRUE(same_bytes(read_file(output), one_red_frame_file(c.rate_code)));
  }
}

}  // namespace
}  // namespace e2e
