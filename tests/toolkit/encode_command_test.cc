// velt encode end to end: the files it writes against velt-encode-flags,
// frame order, the output kept whole, progress and failures.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "e2e_support.h"
#include "velt_program.h"

namespace {

using e2e::Bytes;
using e2e::Image;
using e2e::read_file;
using e2e::Rgba;
using e2e::TempDir;
using toolkit_test::list_directory;
using toolkit_test::run_velt;

// Twelve 8x8 frames with blocks that change, half-transparent pixels and
// more than two colours per block, so that every mode writes other records.
std::vector<Image> varied_frames() {
  std::vector<Image> frames;
  for (unsigned f = 0; f < 12; ++f) {
    Image image(8, 8, e2e::kWhite);
    for (unsigned y = 0; y < 8; ++y)
      for (unsigned x = 0; x < 8; ++x)
        if ((x + y + f) % 3 == 0)
          image.set(x, y,
                    {uint8_t(20 * f), uint8_t(255 - 9 * x), uint8_t(30 * y), uint8_t(60 + 16 * f)});
    image.fill_block(f % 2, 1, {uint8_t(10 * f), 0, 200, 255});
    frames.push_back(image);
  }
  return frames;
}

Bytes encode_flags(const std::string& x_pattern, const std::string& out, const std::string& fps,
                   const std::string& flags) {
  e2e::RunResult run = e2e::run_encode_flags({x_pattern, out, fps, flags});
  EXPECT_EQ(run.exit_status, 0) << run.out;
  return read_file(out);
}

TEST(EncodeCommand, WritesWhatVeltEncodeFlagsWritesForEveryInputForm) {
  TempDir dir;
  std::string x_pattern = e2e::write_sequence(dir, "seq", varied_frames());
  std::string printf_pattern = dir.file("seq_%d.png");
  struct Mode {
    const char* name;
    const char* flags;
  };
  const Mode modes[] = {{"opaque", "0"}, {"alpha", "1"}, {"opaque12", "2"}, {"alpha12", "3"}};
  for (const Mode& mode : modes) {
    Bytes expected = encode_flags(x_pattern, dir.file("expected.velt"), "30", mode.flags);
    ASSERT_GT(expected.size(), 10u);
    // the directory holds the 12 frames and nothing else: seq_10 after seq_9
    for (const std::string& input : {x_pattern, printf_pattern, dir.path()}) {
      SCOPED_TRACE(std::string(mode.name) + " " + input);
      std::string out = dir.file("out.velt");
      e2e::RunResult run = run_velt({"encode", input, out, "--fps", "30", "--mode", mode.name});
      EXPECT_EQ(run.exit_status, 0) << run.err;
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(run.err, "") << "no progress bar without a terminal";
      EXPECT_TRUE(e2e::same_bytes(read_file(out), expected));
      remove(out.c_str());
    }
    remove(dir.file("expected.velt").c_str());
  }
}

TEST(EncodeCommand, DefaultsToTwentyFpsAndOpaqueRecords) {
  TempDir dir;
  std::string pattern =
      e2e::write_sequence(dir, "seq", {Image(4, 4, e2e::kRed), Image(4, 4, e2e::kBlue)});
  Bytes expected = encode_flags(pattern, dir.file("expected.velt"), "20", "0");
  ASSERT_EQ(run_velt({"encode", pattern, dir.file("out.velt")}).exit_status, 0);
  EXPECT_TRUE(e2e::same_bytes(read_file(dir.file("out.velt")), expected));
}

// The header keeps 2 * fps - 1, and its bit 7 also marks set flags: above 64
// a reader would take the rate for the mark, in every mode.
TEST(EncodeCommand, TakesOneToSixtyFourFpsInEveryMode) {
  TempDir dir;
  std::string pattern = e2e::write_sequence(dir, "seq", {Image(4, 4, e2e::kRed)});
  struct Case {
    const char* mode;
    const char* fps;
    int status;
    int rate_code;  // header byte 5 when written
  };
  const Case cases[] = {
      {"opaque", "1", 0, 0x01}, {"opaque", "64", 0, 0x7F}, {"alpha12", "64", 0, 0xFF},
      {"opaque", "65", 2, 0},   {"opaque", "128", 2, 0},   {"alpha", "65", 2, 0},
      {"opaque", "0", 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + " at " + c.fps);
    std::string out = dir.file("out.velt");
    e2e::RunResult run = run_velt({"encode", pattern, out, "--mode", c.mode, "--fps", c.fps});
    EXPECT_EQ(run.exit_status, c.status) << run.err;
    Bytes written = read_file(out);
    if (c.status == 0) {
      ASSERT_GT(written.size(), 5u);
      EXPECT_EQ(written[5], c.rate_code);
    } else {
      EXPECT_TRUE(written.empty()) << "nothing written";
    }
    remove(out.c_str());
  }
}

TEST(EncodeFlagsProgram, TakesOnlyTheTextsZeroToThreeForFlags) {
  TempDir dir;
  std::string pattern = e2e::write_sequence(dir, "seq", {Image(4, 4, e2e::kRed)});
  std::string out = dir.file("out.velt");
  // strict: another spelling of a valid value is refused with the rest
  for (const char* flags : {"7", "4", "-1", "255", "x", "", "+1", " 1", "1 ", "01", "1x", "0x1"}) {
    e2e::RunResult run = e2e::run_encode_flags({pattern, out, "20", flags});
    EXPECT_EQ(run.exit_status, 1) << "'" << flags << "'";
    EXPECT_EQ(run.err,
              std::string("velt-encode-flags: flags must be 0, 1, 2 or 3, not '") + flags + "'\n");
    EXPECT_EQ(run.out, "") << "refused before the run starts";
    EXPECT_FALSE(e2e::file_exists(out)) << "'" << flags << "'";
  }
}

TEST(EncodeCommand, TakesADirectoryInNaturalOrder) {
  TempDir frames;
  e2e::write_png(frames.file("frame1.png"), Image(4, 4, e2e::kRed));
  e2e::write_png(frames.file("frame10.png"), Image(4, 4, e2e::kBlue));
  e2e::write_png(frames.file("frame2.png"), Image(4, 4, e2e::kGreen));
  TempDir out;
  ASSERT_EQ(run_velt({"encode", frames.path(), out.file("out.velt")}).exit_status, 0);
  Bytes expected = e2e::concat({e2e::header(39, 3, 0, 0),
                                {0x80},
                                e2e::kRedRecord,
                                {0x80},
                                e2e::kGreenRecord,
                                {0x80},
                                e2e::kBlueRecord,
                                {0x80},
                                e2e::kRedRecord});
  EXPECT_TRUE(e2e::same_bytes(read_file(out.file("out.velt")), expected));
}

// The output is written beside its path with no name until it is finished:
// only the finished file is ever seen there, and a run that keeps none leaves
// the old one.
TEST(EncodeCommand, LeavesOnlyTheFinishedFileBehind) {
  TempDir frames, out;
  e2e::write_png(frames.file("a.png"), Image(4, 4, e2e::kRed));
  e2e::write_png(frames.file("b.png"), Image(4, 4, e2e::kGreen));
  e2e::RunResult ok = run_velt({"encode", frames.path(), out.file("o.velt")});
  EXPECT_EQ(ok.exit_status, 0) << ok.err;
  EXPECT_EQ(list_directory(out.path()), std::vector<std::string>{"o.velt"});
  const Bytes finished = read_file(out.file("o.velt"));

  e2e::write_file(frames.file("a.png"), {'n', 'o', 't'});
  e2e::RunResult failed = run_velt({"encode", frames.path(), out.file("o.velt")});
  EXPECT_EQ(failed.exit_status, 1);
  EXPECT_EQ(list_directory(out.path()), std::vector<std::string>{"o.velt"});
  EXPECT_EQ(read_file(out.file("o.velt")), finished) << "a failure at frame 0 keeps the old file";
}

TEST(EncodeCommand, InterruptedRunKeepsTheOldOutput) {
  TempDir frames, out;
  toolkit_test::write_noise_frames(frames, 20);
  const std::string output = out.file("o.velt");
  const Bytes old = {'o', 'l', 'd'};
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal_number));
    e2e::write_file(output, old);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int s : {SIGTERM, SIGINT, SIGHUP}) signal(s, SIG_DFL);
      execl(VELT_PATH, VELT_PATH, "encode", frames.path().c_str(), output.c_str(), "--mode",
            "opaque12", static_cast<char*>(nullptr));
      _exit(127);
    }
    // wait for the unnamed file beside the output, then stop the run
    bool started = e2e::wait_for_unnamed_file(pid, out.path(), 20);
    kill(pid, signal_number);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(started) << "the run never began its file";
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 128 + signal_number) << "the run ended before it was stopped";
    EXPECT_EQ(list_directory(out.path()), std::vector<std::string>{"o.velt"});
    EXPECT_EQ(read_file(output), old);
  }
}

// A VELT file counts at most 65535 frames; a longer sequence is refused before
// the module runs rather than cut short.
TEST(EncodeCommand, RefusesMoreFramesThanAFileHoldsInEveryForm) {
  TempDir dir;
  e2e::write_png(dir.file("one.png"), Image(4, 4, e2e::kRed));
  std::string many = dir.file("many");
  ASSERT_EQ(mkdir(many.c_str(), 0700), 0);
  for (int n = 0; n <= 65535; ++n) {
    std::string link = many + "/f_" + std::to_string(n) + ".png";
    ASSERT_EQ(symlink(dir.file("one.png").c_str(), link.c_str()), 0) << link;
  }
  const std::string after_last = "frame " + many + "/f_65535.png exists";
  struct Case {
    std::string input;
    std::string detail;
  };
  const Case cases[] = {
      {many + "/f_X.png", after_last},
      {many + "/f_%d.png", after_last},
      {many, "65536 PNG files"},
  };
  for (const Case& c : cases) {
    e2e::RunResult run = run_velt({"encode", c.input, dir.file("o.velt")});
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.err, "velt: " + c.input + ": more than the 65535 frames a VELT file holds (" +
                           c.detail + ")\n");
    EXPECT_FALSE(e2e::file_exists(dir.file("o.velt")));
  }
}

TEST(EncodeCommand, DrawsProgressOnlyOnATerminal) {
  TempDir dir;
  std::vector<Image> frames = varied_frames();
  std::string pattern = e2e::write_sequence(dir, "seq", frames);
  e2e::RunResult shown =
      toolkit_test::run_velt_on_terminal({"encode", pattern, dir.file("o.velt")});
  EXPECT_EQ(shown.exit_status, 0);
  EXPECT_NE(shown.err.find("12/12 frames"), std::string::npos) << shown.err;
  EXPECT_NE(shown.err.find(" 1/12 frames"), std::string::npos)
      << "counted frame by frame: " << shown.err;
  EXPECT_TRUE(e2e::ends_with(shown.err, "\n")) << "the bar ends its line";

  e2e::RunResult quiet =
      toolkit_test::run_velt_on_terminal({"encode", pattern, dir.file("o.velt"), "--quiet"});
  EXPECT_EQ(quiet.exit_status, 0);
  EXPECT_EQ(quiet.err, "");
}

TEST(EncodeCommand, FailuresAreOneLineOnStandardError) {
  TempDir dir;
  e2e::write_png(dir.file("a_0.png"), Image(8, 8, e2e::kRed));
  e2e::write_file(dir.file("a_1.png"), {'n', 'o', 't', ' ', 'p', 'n', 'g'});
  e2e::write_png(dir.file("b_0.png"), Image(6, 8, e2e::kRed));
  e2e::write_png(dir.file("c_0.png"), Image(8, 8, e2e::kRed));
  mkdir(dir.file("c_1.png").c_str(), 0700);
  mkdir(dir.file("tmp.aXb").c_str(), 0700);
  e2e::write_png(dir.file("tmp.aXb/f_0.png"), Image(8, 8, e2e::kRed));
  std::string out = dir.file("o.velt");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  };
  const Case cases[] = {
      {{"encode", dir.file("none_X.png"), out},
       1,
       "velt: " + dir.file("none_0.png") + ": no such frame file\n"},
      // a directory made by mktemp may hold an X: the hint says how to keep it
      {{"encode", dir.file("tmp.aXb/f_X.png"), out},
       1,
       "velt: " + dir.file("tmp.a0b/f_0.png") + ": no such frame file (every upper-case X in " +
           dir.file("tmp.aXb/f_X.png") +
           " stands for the frame number, also those of its directory; " +
           dir.file("tmp.aXb/f_%d.png") +
           " names the frame number with %d and takes the directory as it is)\n"},
      {{"encode", dir.file("a_X.png"), out, "--mode", "bc1"},
       2,
       "velt: encode: unknown mode 'bc1': use opaque, alpha, opaque12 or alpha12 (see 'velt encode "
       "--help')\n"},
      {{"encode", dir.file("a_X.png"), out, "--fps", "100"},
       2,
       "velt: encode: --fps takes a whole number from 1 to 64, not '100' (see 'velt encode "
       "--help')\n"},
      {{"encode", dir.file("a_X.png")},
       2,
       "velt: encode: expected INPUT and OUT.velt (see 'velt encode --help')\n"},
      {{"encode", dir.file("a_%d.png"), out},
       1,
       "velt: encode: cannot decode frame " + dir.file("a_1.png") +
           ": PNG file is smaller than a PNG header\n"},
      {{"encode", dir.file("c_X.png"), out},
       1,
       "velt: " + dir.file("c_1.png") + ": not a regular file\n"},
      {{"encode", dir.file("b_X.png"), out},
       1,
       "velt: encode: the width and height must be divisible by 4: " + dir.file("b_0.png") +
           " is 6x8\n"},
      {{"encode", dir.file("a_X.png"), dir.file("missing/o.velt")},
       1,
       "velt: encode: cannot open output file " + dir.file("missing/o.velt") +
           ": No such file or directory\n"},
      {{"encode", dir.file("a_X.png"), dir.file("a_1.png")},
       1,
       "velt: encode: cannot open output file " + dir.file("a_1.png") +
           ": the input pattern names it\n"},
  };
  for (const Case& c : cases) {
    e2e::RunResult run = run_velt(c.args);
    EXPECT_EQ(run.exit_status, c.status) << c.err;
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.out, "");
  }
}

}  // namespace
