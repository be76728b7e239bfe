// GIF and animated PNG files as velt encode's input: the same bytes as the
// frames ffmpeg cuts from them, padded and at the same rate, whatever the
// number of jobs; velt compare reads them as velt encode does; and what is
// refused, with what message.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "velt_program.h"

namespace {

using toolkit_test::run_velt;

bool have_ffmpeg() { return std::system("command -v ffmpeg >/dev/null 2>&1") == 0; }

// Runs a shell command line; true on exit status 0.
bool shell(const std::string& line) { return std::system((line + " 2>/dev/null").c_str()) == 0; }

// A 30x30 GIF of 12 frames at 10 fps, and the animated PNG ffmpeg makes of it.
void make_animations(const e2e::TempDir& dir) {
  ASSERT_TRUE(shell("ffmpeg -loglevel error -f lavfi -i testsrc=size=30x30:rate=10 -frames:v 12 " +
                    dir.file("anim.gif")));
  ASSERT_TRUE(shell("ffmpeg -loglevel error -i " + dir.file("anim.gif") + " -plays 0 -f apng " +
                    dir.file("anim.png")));
}

TEST(AnimationInput, EncodesAsTheFramesFfmpegCutsPaddedAtTheSameRate) {
  if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  e2e::TempDir dir;
  make_animations(dir);
  const struct {
    const char* file;
    const char* mode;
  } cases[] = {{"anim.gif", "opaque"}, {"anim.gif", "alpha12"}, {"anim.png", "opaque"},
               {"anim.png", "alpha"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.mode);
    const std::string source = dir.file(c.file), frames = dir.file(std::string(c.file) + ".d");
    ASSERT_TRUE(shell("mkdir -p " + frames + " && ffmpeg -loglevel error -i " + source + " " +
                      frames + "/%04d.png"));
    const std::string direct = dir.file("direct.velt"), parallel = dir.file("parallel.velt"),
                      cut = dir.file("cut.velt");
    e2e::RunResult run = run_velt({"encode", source, direct, "--mode", c.mode, "--jobs", "1"});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    EXPECT_NE(run.err.find("of 12 frames, 30x30 padded to 32x32; held at 10 fps as 12 frames, "
                           "largest timing error 0.0 ms; its loop count is not kept"),
              std::string::npos)
        << run.err;
    run = run_velt({"encode", source, parallel, "--mode", c.mode, "--jobs", "3", "--quiet"});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    run = run_velt({"encode", frames, cut, "--mode", c.mode, "--pad", "--fps", "10", "--quiet"});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    const e2e::Bytes bytes = e2e::read_file(direct);
    ASSERT_FALSE(bytes.empty());
    EXPECT_TRUE(bytes == e2e::read_file(cut));
    EXPECT_TRUE(bytes == e2e::read_file(parallel));

    // compare reads the animation as encode did, and the padded frames with --pad
    run = run_velt({"compare", direct, source, "--mode", c.mode, "--json"});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    EXPECT_NE(run.out.find("{\"frame\": 11, \"rgb"), std::string::npos) << run.out;
    e2e::RunResult padded = run_velt({"compare", direct, frames, "--mode", c.mode, "--pad", "--json"});
    ASSERT_EQ(padded.exit_status, 0) << padded.err;
    EXPECT_EQ(padded.out.substr(padded.out.find("\"frames\"")),
              run.out.substr(run.out.find("\"frames\"")));
  }
}

// A stream on standard input, PNG images or raw RGBA frames as ffmpeg writes
// them, gives the bytes of the frames in a directory, with any number of jobs;
// velt compare reads the same stream.
TEST(AnimationInput, FramesFromAPipeGiveTheDirectorysBytes) {
  if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  e2e::TempDir dir;
  make_animations(dir);
  const std::string gif = dir.file("anim.gif"), frames = dir.file("frames");
  ASSERT_TRUE(shell("mkdir -p " + frames + " && ffmpeg -loglevel error -i " + gif + " " + frames +
                    "/%04d.png"));
  e2e::RunResult run =
      run_velt({"encode", frames, dir.file("dir.velt"), "--pad", "--mode", "alpha", "--quiet"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  const e2e::Bytes expected = e2e::read_file(dir.file("dir.velt"));
  const std::string png = "ffmpeg -loglevel error -i " + gif + " -f image2pipe -c:v png - | ";
  const std::string raw = "ffmpeg -loglevel error -i " + gif + " -f rawvideo -pix_fmt rgba - | ";
  const std::string velt = std::string(VELT_PATH) + " ";
  const std::string encode = "encode - " + dir.file("out.velt") + " --pad --mode alpha --quiet";
  const std::string cases[] = {png + velt + encode + " --jobs 1", png + velt + encode + " --jobs 3",
                               raw + velt + encode + " --raw 30x30 --jobs 2"};
  for (const std::string& line : cases) {
    SCOPED_TRACE(line);
    std::remove(dir.file("out.velt").c_str());
    ASSERT_TRUE(shell(line));
    EXPECT_TRUE(e2e::read_file(dir.file("out.velt")) == expected);
  }
  EXPECT_TRUE(shell(raw + velt + "compare " + dir.file("dir.velt") +
                    " - --raw 30x30 --pad --mode alpha >/dev/null"));
  // a stream that is not PNG images fails, naming where, and writes nothing
  std::remove(dir.file("out.velt").c_str());
  EXPECT_FALSE(shell("echo hello | " + velt + encode));
  EXPECT_FALSE(e2e::file_exists(dir.file("out.velt")));
}

// Sets the delay of every frame, in hundredths, in the graphic control
// extensions of the GIF ffmpeg wrote.
void set_delays(e2e::Bytes* gif, int hundredths) {
  int found = 0;
  for (size_t i = 0; i + 6 < gif->size(); i++) {
    if ((*gif)[i] == 0x21 && (*gif)[i + 1] == 0xF9 && (*gif)[i + 2] == 4) {
      (*gif)[i + 4] = uint8_t(hundredths & 0xFF);
      (*gif)[i + 5] = uint8_t(hundredths >> 8);
      found++;
    }
  }
  ASSERT_EQ(found, 12);
}

TEST(AnimationInput, RefusesWhatCannotBeEncodedAndLeavesTheOutputAsItWas) {
  if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  e2e::TempDir dir;
  ASSERT_TRUE(shell("ffmpeg -loglevel error -f lavfi -i testsrc=size=1030x20:rate=10 -frames:v 2 " +
                    dir.file("wide.gif")));
  make_animations(dir);
  e2e::Bytes gif = e2e::read_file(dir.file("anim.gif"));
  set_delays(&gif, 65535);  // 655.35 s: 41942 frames each at 64 fps
  e2e::write_file(dir.file("long.gif"), gif);
  e2e::write_file(dir.file("text.gif"), e2e::Bytes{'h', 'e', 'l', 'l', 'o'});
  e2e::write_file(dir.file("out.velt"), e2e::Bytes{'k', 'e', 'e', 'p'});

  const struct {
    std::vector<std::string> args;
    std::vector<std::string> said;
  } cases[] = {
      {{"wide.gif"}, {"wide.gif is 1030x20", "below 1024", "ffmpeg -i"}},
      {{"long.gif", "--fps", "64"}, {"too many frames", "held at 64 fps", "--fps"}},
      {{"text.gif"}, {"text.gif", "cannot read frame"}},
      {{"missing.gif"}, {"missing.gif: no such file"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    std::vector<std::string> args = {"encode", dir.file(c.args[0]), dir.file("out.velt")};
    args.insert(args.end(), c.args.begin() + 1, c.args.end());
    e2e::RunResult run = run_velt(args);
    EXPECT_NE(run.exit_status, 0);
    for (const std::string& text : c.said) EXPECT_NE(run.err.find(text), std::string::npos) << run.err;
    EXPECT_TRUE(e2e::read_file(dir.file("out.velt")) == (e2e::Bytes{'k', 'e', 'e', 'p'}));
  }
  // at its own rate, 1 fps within 3 % of each delay, it fits: 12 x 655 frames
  e2e::RunResult run = run_velt({"encode", dir.file("long.gif"), dir.file("long.velt")});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_NE(run.err.find("held at 1 fps as 7860 frames"), std::string::npos) << run.err;
}

}  // namespace
