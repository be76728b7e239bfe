#include "frame_input.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "e2e_support.h"

namespace {

using e2e::TempDir;

TEST(NaturalOrder, DigitRunsCompareAsNumbers) {
  struct Case {
    const char* a;
    const char* b;
    bool a_first;
    const char* why;
  };
  const Case cases[] = {
      {"frame2.png", "frame10.png", true, "2 < 10 although '1' < '2'"},
      {"frame10.png", "frame2.png", false, "the same pair the other way"},
      {"frame9.png", "frame9.png", false, "equal names are not less"},
      {"a1b2.png", "a1b10.png", true, "a later digit run decides"},
      {"frame007.png", "frame8.png", true, "leading zeros do not make a number bigger"},
      {"frame02.png", "frame2.png", true, "equal numbers fall back to byte order"},
      {"frame.png", "frame1.png", true, "a name that runs out first comes first"},
      {"b1.png", "a2.png", false, "text before the digits still decides"},
      {"f99999999999999999999.png", "f100000000000000000000.png", true,
       "runs longer than any integer type"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(natural_less(c.a, c.b), c.a_first) << c.a << " / " << c.b << ": " << c.why;
}

TEST(PrintfPattern, ParsesOneConversion) {
  struct Case {
    const char* text;
    bool is_printf;
    const char* frame_12;  // the path for frame 12, or the expected error's start
    const char* why;
  };
  const Case cases[] = {
      {"f/%d.png", true, "f/12.png", "plain %d"},
      {"f/%04d.png", true, "f/0012.png", "zero padded"},
      {"f/%01d.png", true, "f/12.png", "a width below the digit count pads nothing"},
      {"100%%/%03d.png", true, "100%/012.png", "%% is a percent sign"},
      {"f/X.png", false, "", "an X pattern is no printf pattern"},
      {"f/%d_%d.png", false, "f/%d_%d.png: more than one", "two numbers cannot both be the frame"},
      {"f/%s.png", false, "f/%s.png: only %d", "other conversions are refused"},
      {"f/%4d.png", false, "f/%4d.png: only %d", "space padding is not taken"},
      {"f/%0d.png", false, "f/%0d.png: only %d", "a zero without a width"},
      {"f/%0100d.png", false, "f/%0100d.png: only %d", "a width of three digits"},
  };
  for (const Case& c : cases) {
    PrintfPattern pattern;
    std::string error;
    bool parsed = parse_printf_pattern(c.text, &pattern, &error);
    EXPECT_EQ(parsed, c.is_printf) << c.text << ": " << c.why;
    if (parsed) {
      EXPECT_EQ(format_printf_pattern(pattern, 12), c.frame_12) << c.why;
    } else {
      EXPECT_EQ(error.rfind(c.frame_12, 0), 0u) << c.text << " gave '" << error << "': " << c.why;
    }
  }
}

TEST(XPattern, ExpandsEveryUpperCaseX) {
  EXPECT_EQ(expand_x_pattern("f_X_X.png", 7), "f_7_7.png");
  EXPECT_EQ(expand_x_pattern("fx.png", 7), "fx.png");
}

class ResolveTest : public ::testing::Test {
 protected:
  void touch(const std::string& name) { e2e::write_file(dir_.file(name), {1}); }
  std::vector<std::string> resolve(const std::string& input, std::string* error = nullptr,
                                   int32_t max_frames = MAX_INPUT_FRAMES) {
    FrameInput resolved;
    std::string message;
    if (!resolve_frame_input(input, &resolved, &message, max_frames)) {
      if (error) *error = message;
      return {};
    }
    kind_ = resolved.kind;
    std::vector<std::string> names;
    for (const std::string& path : resolved.frames)
      names.push_back(path.substr(dir_.path().size() + 1));
    return names;
  }
  using Names = std::vector<std::string>;
  TempDir dir_;
  FrameInputKind kind_ = FrameInputKind::X_PATTERN;
};

TEST_F(ResolveTest, DirectoryTakesPngFilesInNaturalOrder) {
  for (const char* name : {"frame10.png", "frame2.png", "frame1.PNG", "notes.txt", ".hidden.png"})
    touch(name);
  EXPECT_EQ(resolve(dir_.path()), (Names{"frame1.PNG", "frame2.png", "frame10.png"}));
  EXPECT_EQ(kind_, FrameInputKind::DIRECTORY);
}

TEST_F(ResolveTest, PrintfPatternStartsAtTheFirstOfZeroToFour) {
  for (const char* name : {"f_0003.png", "f_0004.png", "f_0005.png", "f_0007.png"}) touch(name);
  EXPECT_EQ(resolve(dir_.file("f_%04d.png")), (Names{"f_0003.png", "f_0004.png", "f_0005.png"}))
      << "from 3, up to the gap at 6";
  EXPECT_EQ(kind_, FrameInputKind::PRINTF_PATTERN);
}

TEST_F(ResolveTest, PrintfPatternStartingAfterFourIsNotFound) {
  touch("f_5.png");
  std::string error;
  EXPECT_TRUE(resolve(dir_.file("f_%d.png"), &error).empty());
  EXPECT_NE(error.find("no frame numbered 0 to 4"), std::string::npos) << error;
}

TEST_F(ResolveTest, XPatternRunsFromZeroToTheFirstGap) {
  for (const char* name : {"a_0.png", "a_1.png", "a_3.png"}) touch(name);
  EXPECT_EQ(resolve(dir_.file("a_X.png")), (Names{"a_0.png", "a_1.png"}));
  EXPECT_EQ(kind_, FrameInputKind::X_PATTERN);
  EXPECT_EQ(resolve(dir_.file("a_3.png")), (Names{"a_3.png"})) << "no X: one frame";
}

TEST_F(ResolveTest, NothingFoundIsAnError) {
  touch("notes.txt");
  struct Case {
    std::string input;
    const char* message;
  };
  const Case cases[] = {
      {dir_.path(), "no PNG files"},
      {dir_.file("a_X.png"), "a_0.png: no such frame file"},
      {dir_.file("single.png"), "single.png: no such file"},
      {dir_.file("notes.txt/X.png"), "notes.txt/0.png: no such frame file"},
      {"", "the input is empty"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_TRUE(resolve(c.input, &error).empty()) << c.input;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.input << " gave '" << error << "'";
  }
}

// A name that exists but is no frame must not end a sequence as a gap does:
// the frames after it would be left out without a word.
TEST_F(ResolveTest, NamesThatExistButAreNoFramesAreErrors) {
  mkdir(dir_.file("d").c_str(), 0700);
  mkdir(dir_.file("locked").c_str(), 0700);
  for (const char* name :
       {"a_0.png", "a_2.png", "p_1.png", "b_0.png", "c_0.png", "d/1.png", "locked/0.png"})
    touch(name);
  for (const char* name : {"a_1.png", "p_0.png", "d/2.png"}) mkdir(dir_.file(name).c_str(), 0700);
  mkfifo(dir_.file("fifo.png").c_str(), 0600);
  symlink(dir_.file("gone.png").c_str(), dir_.file("b_1.png").c_str());
  symlink(dir_.file("c_1.png").c_str(), dir_.file("c_1.png").c_str());
  struct Case {
    std::string input;
    std::string error;
    const char* why;
  };
  std::vector<Case> cases = {
      {dir_.file("a_X.png"), dir_.file("a_1.png") + ": not a regular file", "a directory"},
      {dir_.file("p_%d.png"), dir_.file("p_0.png") + ": not a regular file",
       "the first of 0..4 that exists, even when it is no frame"},
      {dir_.file("d"), dir_.file("d/2.png") + ": not a regular file", "a directory's entry"},
      {dir_.file("fifo.png"), dir_.file("fifo.png") + ": not a regular file", "a FIFO"},
      {dir_.file("b_X.png"), dir_.file("b_1.png") + ": a symbolic link to a missing file",
       "a link that leads nowhere"},
      {dir_.file("c_X.png"), dir_.file("c_1.png") + ": Too many levels of symbolic links",
       "stat fails for another reason than a missing name"},
  };
  // root may look into any directory
  if (geteuid() != 0 && chmod(dir_.file("locked").c_str(), 0) == 0)
    cases.push_back({dir_.file("locked/X.png"), dir_.file("locked/0.png") + ": Permission denied",
                     "a directory it may not look into"});
  for (const Case& c : cases) {
    std::string error;
    EXPECT_TRUE(resolve(c.input, &error).empty()) << c.why;
    EXPECT_EQ(error, c.error) << c.why;
  }
  chmod(dir_.file("locked").c_str(), 0700);
}

TEST_F(ResolveTest, MoreFramesThanTheLimitAreRefusedInEveryForm) {
  mkdir(dir_.file("d").c_str(), 0700);
  for (const char* name : {"a_0.png", "a_1.png", "a_2.png", "p_1.png", "p_2.png", "p_3.png",
                           "p_4.png", "d/1.png", "d/2.png", "d/3.png", "d/4.png"})
    touch(name);
  EXPECT_EQ(resolve(dir_.file("a_X.png"), nullptr, 3).size(), 3u) << "as many as the limit";
  struct Case {
    std::string input;
    int32_t limit;
    std::string detail;
  };
  const Case cases[] = {
      {dir_.file("a_X.png"), 2, "(frame " + dir_.file("a_2.png") + " exists)"},
      {dir_.file("p_%d.png"), 3, "(frame " + dir_.file("p_4.png") + " exists)"},
      {dir_.file("d"), 3, "(4 PNG files)"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_TRUE(resolve(c.input, &error, c.limit).empty()) << c.input;
    EXPECT_EQ(error, c.input + ": more than the " + std::to_string(c.limit) +
                         " frames a VELT file holds " + c.detail);
  }
}

}  // namespace
