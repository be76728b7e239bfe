// Real GIFs from Debian packages and the animated PNGs ffmpeg makes of them
// (tools/real_animations.sh) as velt encode's input: what velt makes of each
// one's size and delays, the same bytes whatever the number of jobs, velt
// compare reading every frame; and, where every picture is held for one
// period, the bytes of the frames ffmpeg cuts from the file, read from a
// directory or from a pipe.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "velt_program.h"

namespace {

using toolkit_test::run_velt;

// How ffmpeg's decoding of these files differs from velt's, which shows them
// as a browser does, measured pixel by pixel on every frame:
// - ffmpeg's GIF decoder gives a transparent pixel the colour of its
//   trans_color option, transparent white by default, where velt gives
//   transparent black. In mode alpha a pixel below alpha 128 is encoded
//   without its colour, so there the difference cannot show; in mode opaque
//   the frames are cut with -trans_color 0, which leaves none.
// - Where a GIF has no transparent index, ffmpeg paints the canvas outside
//   the first frame, and what a frame of disposal 2 leaves, in the global
//   table's background colour, opaque; velt leaves them transparent. In
//   dispose-restore-background.gif that colour is black: mode opaque, which
//   keeps no alpha, gives its opaque black and velt's transparent black the
//   same bytes; in mode alpha they differ.
// Otherwise (disposal 3, interlacing, frames smaller than the canvas, local
// colour tables) ffmpeg's pixels are velt's. Its animated PNGs hold its own
// decoding of the GIFs, which it and velt decode alike.
struct RealAnimation {
  const char* file;
  // what velt encode says of it, after its name
  const char* said;
  // the rate at which each picture is held one period, given to every encode
  // of the byte check; 0: the delays differ, so no rate gives ffmpeg's cut
  int cut_fps;
  // ffmpeg's options before -i for the cut whose bytes a file of that mode
  // must have, or nullptr for no check in that mode
  const char* opaque_cut;
  const char* alpha_cut;
};

const RealAnimation kAnimations[] = {
    // the largest: a rectangle drawn over the last frame each time, delays of 30 to 670 ms
    // no rate fits every delay: the period of the shortest, 30 ms
    {"1_partyanimsm2.gif",
     "GIF of 45 frames, 660x666 padded to 660x668; held at 33 fps as 197 frames, largest timing "
     "error 12.4 ms",
     0, nullptr, nullptr},
    // 0 ms delays shown as 100 ms, beside one of 400 ms; disposal 2 with transparency
    {"aero.gif",
     "GIF of 56 frames, 350x189 padded to 352x192; held at 10 fps as 59 frames, largest timing "
     "error 0.0 ms",
     0, nullptr, nullptr},
    // opaque, the last three frames smaller than the canvas
    {"anim.gif", "GIF of 4 frames, 88x31 padded to 88x32; held at 4 fps as 4 frames", 4,
     "-trans_color 0", ""},
    // whole opaque frames, a colour table each
    {"circular-table.gif", "GIF of 9 frames, 640x360; held at 20 fps as 9 frames", 20,
     "-trans_color 0", ""},
    // ffmpeg paints the background colour where velt leaves the canvas transparent
    {"dispose-restore-background.gif",
     "GIF of 4 frames, 2x2 padded to 4x4; held at 2 fps as 4 frames", 2, "", nullptr},
    // disposal 3; the last frame has no delay, shown as 100 ms
    {"dispose-restore-previous.gif",
     "GIF of 5 frames, 2x2 padded to 4x4; held at 10 fps as 21 frames", 0, nullptr, nullptr},
    // interlaced frames, smaller than the canvas, disposals 1 and 2
    {"loading.gif", "GIF of 31 frames, 32x32; held at 20 fps as 31 frames", 20, "-trans_color 0",
     ""},
    // 110 ms a frame is one period at 9 fps, within 3 %
    {"loadingAnimation.gif",
     "GIF of 15 frames, 20x20; held at 9 fps as 15 frames, largest timing error 1.1 ms", 9,
     "-trans_color 0", ""},
    // disposals 0 and 2, transparency, padded
    {"test-animation.gif", "GIF of 10 frames, 17x17 padded to 20x20; held at 10 fps as 10 frames",
     10, "-trans_color 0", ""},

    // ffmpeg gives the last frame the delay of the one before it: 330 ms, not 270
    {"1_partyanimsm2.png",
     "animated PNG of 45 frames, 660x666 padded to 660x668; held at 33 fps as 199 frames", 0,
     nullptr, nullptr},
    {"aero.png", "animated PNG of 56 frames, 350x189 padded to 352x192; held at 10 fps as 59 frames",
     0, nullptr, nullptr},
    {"anim.png", "animated PNG of 4 frames, 88x31 padded to 88x32; held at 4 fps as 4 frames", 4,
     "", ""},
    {"circular-table.png", "animated PNG of 9 frames, 640x360; held at 20 fps as 9 frames", 20, "",
     ""},
    // ffmpeg's decoding of the GIF: an opaque black background
    {"dispose-restore-background.png",
     "animated PNG of 4 frames, 2x2 padded to 4x4; held at 2 fps as 4 frames", 2, "", ""},
    // ffmpeg gives the frame without a delay that of the one before it
    {"dispose-restore-previous.png",
     "animated PNG of 5 frames, 2x2 padded to 4x4; held at 2 fps as 5 frames", 2, "", ""},
    {"loading.png", "animated PNG of 31 frames, 32x32; held at 20 fps as 31 frames", 20, "", ""},
    // ffmpeg writes 110 ms as 12/109 s: one period at 9 fps too
    {"loadingAnimation.png",
     "animated PNG of 15 frames, 20x20; held at 9 fps as 15 frames, largest timing error 1.0 ms",
     9, "", ""},
    {"test-animation.png",
     "animated PNG of 10 frames, 17x17 padded to 20x20; held at 10 fps as 10 frames", 10, "", ""},
};

// `text` quoted for the shell.
std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs a shell command line; true on exit status 0.
bool shell(const std::string& line) { return std::system(line.c_str()) == 0; }

// The held frames velt encode reports: the number before " frames" after "held at".
int held_frames(const std::string& said) {
  size_t as = said.find(" as ", said.find("held at"));
  return as == std::string::npos ? -1 : std::atoi(said.c_str() + as + 4);
}

// The animations are where tools/run_tests.sh makes them, beside the real
// sequences; without them (or ffmpeg) the tests skip, or fail when they are
// required.
class RealAnimations : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = e2e::real_frames_dir() + "/animations";
    std::string why;
    if (dir_.find('X') != std::string::npos || dir_.size() > 200)
      why = dir_ + " has an X in it or is too long a path";
    for (const RealAnimation& a : kAnimations)
      if (why.empty() && !e2e::file_exists(path(a)))
        why = "no " + path(a) + ": tools/real_animations.sh " + dir_ + " makes it";
    if (why.empty() && !shell("command -v ffmpeg >/dev/null 2>&1")) why = "no ffmpeg";
    if (why.empty()) return;
    if (e2e::real_frames_required()) FAIL() << why;
    GTEST_SKIP() << why;
  }
  std::string path(const RealAnimation& a) const { return dir_ + "/" + a.file; }
  std::string dir_;
};

TEST_F(RealAnimations, EachEncodesAlikeWithAnyJobsAndVeltCompareReadsEveryFrame) {
  for (const RealAnimation& a : kAnimations) {
    SCOPED_TRACE(a.file);
    e2e::TempDir dir;
    const std::string one = dir.file("one.velt"), three = dir.file("three.velt");
    e2e::RunResult run = run_velt({"encode", path(a), one, "--jobs", "1"});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    EXPECT_NE(run.err.find(std::string(a.file) + ": " + a.said), std::string::npos) << run.err;
    run = run_velt({"encode", path(a), three, "--jobs", "3", "--quiet"});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    const e2e::Bytes bytes = e2e::read_file(one);
    ASSERT_FALSE(bytes.empty());
    EXPECT_TRUE(bytes == e2e::read_file(three));

    run = run_velt({"compare", one, path(a), "--json"});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    const int frames = held_frames(a.said);
    const std::string last = "{\"frame\": " + std::to_string(frames - 1) + ", \"rgb";
    const std::string past = "{\"frame\": " + std::to_string(frames) + ", \"rgb";
    EXPECT_NE(run.out.find(last), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(past), std::string::npos) << run.out;
  }
}

TEST_F(RealAnimations, OnePeriodAPictureGivesTheBytesOfTheFramesFfmpegCuts) {
  const std::string velt = quoted(VELT_PATH);
  for (const RealAnimation& a : kAnimations) {
    for (const char* mode : {"opaque", "alpha"}) {
      const char* options = std::string(mode) == "opaque" ? a.opaque_cut : a.alpha_cut;
      if (a.cut_fps == 0 || options == nullptr) continue;
      SCOPED_TRACE(std::string(a.file) + " " + mode + " " + options);
      e2e::TempDir dir;
      const std::string fps = std::to_string(a.cut_fps);
      const std::string ffmpeg =
          std::string("ffmpeg -nostdin -v error ") + options + " -i " + quoted(path(a));
      const std::string frames = dir.file("frames"), direct = dir.file("direct.velt"),
                        cut = dir.file("cut.velt"), piped = dir.file("piped.velt");
      ASSERT_TRUE(shell("mkdir " + quoted(frames) + " && " + ffmpeg + " " + quoted(frames) +
                        "/%04d.png"));
      e2e::RunResult run = run_velt(
          {"encode", path(a), direct, "--mode", mode, "--fps", fps, "--jobs", "1", "--quiet"});
      ASSERT_EQ(run.exit_status, 0) << run.err;
      run = run_velt({"encode", frames, cut, "--mode", mode, "--pad", "--fps", fps, "--quiet"});
      ASSERT_EQ(run.exit_status, 0) << run.err;
      ASSERT_TRUE(shell(ffmpeg + " -f image2pipe -c:v png - | " + velt + " encode - " +
                        quoted(piped) + " --mode " + mode + " --pad --fps " + fps + " --quiet"));
      const e2e::Bytes bytes = e2e::read_file(direct);
      ASSERT_FALSE(bytes.empty());
      EXPECT_TRUE(e2e::same_bytes(e2e::read_file(cut), bytes));
      EXPECT_TRUE(e2e::same_bytes(e2e::read_file(piped), bytes));
    }
  }
}

}  // namespace
