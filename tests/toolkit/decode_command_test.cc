// velt decode end to end: frames back as RGBA PNG files, reading modes, and
// refusal of damaged files before anything is written.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "e2e_support.h"
#include "velt_program.h"

extern "C" {
#include "lodepng.h"
}

namespace {

using e2e::Bytes;
using e2e::Image;
using e2e::TempDir;
using toolkit_test::list_directory;
using toolkit_test::run_velt;

struct Png {
  unsigned error = 0, width = 0, height = 0;
  LodePNGColorType colour_type = LCT_GREY;
  unsigned bit_depth = 0;
  Bytes rgba;
};

Png read_png(const std::string& path) {
  Png png;
  Bytes file = e2e::read_file(path);
  LodePNGState state;
  lodepng_state_init(&state);
  unsigned char* pixels = nullptr;
  png.error = lodepng_decode(&pixels, &png.width, &png.height, &state, file.data(), file.size());
  png.colour_type = state.info_png.color.colortype;
  png.bit_depth = state.info_png.color.bitdepth;
  lodepng_state_cleanup(&state);
  if (png.error == 0) png.rgba.assign(pixels, pixels + size_t{png.width} * png.height * 4);
  free(pixels);
  return png;
}

// Frames of primary colours, which RGB565 holds exactly: decoding gives
// back the source pixels.
std::vector<Image> primary_frames() {
  std::vector<Image> frames;
  const e2e::Rgba colours[] = {e2e::kRed, e2e::kGreen, e2e::kBlue, e2e::kWhite, e2e::kBlack};
  for (unsigned f = 0; f < 5; ++f) {
    Image image(8, 4, colours[f]);
    image.fill_block(1, 0, colours[(f + 2) % 5]);
    frames.push_back(image);
  }
  return frames;
}

TEST(DecodeCommand, WritesEveryFrameAsAnRgbaPng) {
  TempDir dir;
  std::vector<Image> frames = primary_frames();
  std::string pattern = e2e::write_sequence(dir, "src", frames);
  ASSERT_EQ(e2e::run_encode_flags({pattern, dir.file("a.velt"), "20", "0"}).exit_status, 0);
  struct Case {
    std::string out_pattern;
    std::string first_name;
  };
  const Case cases[] = {{"x_X.png", "x_0.png"}, {"p_%03d.png", "p_000.png"}};
  for (const Case& c : cases) {
    TempDir out;
    e2e::RunResult run = run_velt({"decode", dir.file("a.velt"), out.file(c.out_pattern)});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_EQ(list_directory(out.path()).size(), frames.size())
        << "frames 0..N-1, not the closing one";
    for (size_t f = 0; f < frames.size(); ++f) {
      std::string name = c.out_pattern == "x_X.png" ? "x_" + std::to_string(f) + ".png"
                                                    : "p_00" + std::to_string(f) + ".png";
      Png png = read_png(out.file(name));
      ASSERT_EQ(png.error, 0u) << name;
      EXPECT_EQ(png.colour_type, LCT_RGBA) << "one colour still makes an RGBA file";
      EXPECT_EQ(png.bit_depth, 8u);
      EXPECT_EQ(png.width, 8u);
      EXPECT_TRUE(e2e::same_bytes(png.rgba, frames[f].rgba)) << name;
    }
  }
}

// --raw: the same pixels, frame after frame, into one file or a pipe.
TEST(DecodeCommand, WritesRawRgbaFramesToAFileOrStandardOutput) {
  TempDir dir;
  std::vector<Image> frames = primary_frames();
  std::string pattern = e2e::write_sequence(dir, "src", frames);
  ASSERT_EQ(e2e::run_encode_flags({pattern, dir.file("a.velt"), "20", "0"}).exit_status, 0);
  Bytes expected;
  for (const Image& frame : frames) expected.insert(expected.end(), frame.rgba.begin(), frame.rgba.end());
  for (const std::string& out : {dir.file("all.rgba"), std::string("-")}) {
    e2e::RunResult run = run_velt({"decode", dir.file("a.velt"), out, "--raw"});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    Bytes written = out == "-" ? Bytes(run.out.begin(), run.out.end()) : e2e::read_file(out);
    EXPECT_TRUE(e2e::same_bytes(written, expected)) << out;
  }
  e2e::RunResult over_input = run_velt({"decode", dir.file("a.velt"), dir.file("a.velt"), "--raw"});
  EXPECT_EQ(over_input.exit_status, 1);
  EXPECT_NE(over_input.err.find("the output is the input file"), std::string::npos);
}

TEST(DecodeCommand, ReadsFlaggedFilesAsAlphaUnlessToldOtherwise) {
  TempDir dir;
  Image clear(4, 4, {255, 0, 0, 0});
  std::string pattern = e2e::write_sequence(dir, "src", {clear});
  ASSERT_EQ(e2e::run_encode_flags({pattern, dir.file("alpha.velt"), "20", "1"}).exit_status, 0);
  ASSERT_EQ(e2e::run_encode_flags({pattern, dir.file("alpha12.velt"), "20", "3"}).exit_status, 0);

  ASSERT_EQ(run_velt({"decode", dir.file("alpha.velt"), dir.file("a_X.png")}).exit_status, 0);
  EXPECT_EQ(read_png(dir.file("a_0.png")).rgba[3], 0) << "the transparent record decodes clear";

  e2e::RunResult unmarked = run_velt({"decode", dir.file("alpha12.velt"), dir.file("b_X.png")});
  EXPECT_EQ(unmarked.exit_status, 1) << "12-byte records read as 8-byte ones leave bytes over";
  EXPECT_NE(unmarked.err.find(" at offset "), std::string::npos) << unmarked.err;
  ASSERT_EQ(run_velt({"decode", dir.file("alpha12.velt"), dir.file("c_X.png"), "--mode", "alpha12"})
                .exit_status,
            0);
  EXPECT_EQ(read_png(dir.file("c_0.png")).rgba[3], 0);
}

TEST(DecodeCommand, RefusesDamagedFilesWithTheOffset) {
  TempDir dir;
  std::string pattern = e2e::write_sequence(dir, "src", primary_frames());
  ASSERT_EQ(e2e::run_encode_flags({pattern, dir.file("a.velt"), "20", "0"}).exit_status, 0);
  const Bytes good = e2e::read_file(dir.file("a.velt"));
  struct Case {
    Bytes file;
    std::string offset;
    const char* why;
  };
  Bytes wrong_magic = good;
  wrong_magic[1] = 'A';
  Bytes huge_count = good;
  huge_count[6] = 0xFF;
  const Case cases[] = {
      {e2e::concat({good, {0}}), std::to_string(good.size()), "a byte left over"},
      {Bytes(good.begin(), good.end() - 1), "", "the closing record cut short"},
      {wrong_magic, "0", "not a VELT file"},
      {huge_count, "", "a count far beyond what the file holds"},
      {Bytes(good.begin(), good.begin() + 7), "", "the header cut short"},
      {Bytes{}, "", "an empty file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    TempDir out;
    std::string path = dir.file("bad.velt");
    e2e::write_file(path, c.file);
    e2e::RunResult run = run_velt({"decode", path, out.file("X.png")});
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.err.rfind("velt: " + path + ": ", 0), 0u) << run.err;
    EXPECT_TRUE(e2e::ends_with(run.err, "\n") && run.err.find('\n') == run.err.size() - 1)
        << run.err;
    EXPECT_NE(run.err.find(" at offset " + c.offset), std::string::npos) << run.err;
    EXPECT_EQ(list_directory(out.path()).size(), 0u);
  }
}

// Each PNG file appears whole or not at all: a failed write is one line with
// the path and the system's reason, the path keeps what it had, and no
// temporary file stays behind.
TEST(DecodeCommand, AFailedWriteIsReportedAndLeavesNoTemporaryFile) {
  TempDir dir;
  ASSERT_EQ(e2e::run_encode_flags({e2e::write_sequence(dir, "src", primary_frames()),
                                   dir.file("a.velt"), "20", "0"})
                .exit_status,
            0);
  const Bytes kept = {'k', 'e', 'e', 'p'};
  enum FirstFrame { NONE, WHOLE_PNG, KEPT };  // what f_0.png holds afterwards
  struct Case {
    const char* why;
    std::function<void(const TempDir&)> prepare;
    std::string out_pattern;  // within the output directory
    size_t file_size_limit;   // 0 for none
    std::string failing_name;
    std::string reason;
    std::vector<std::string> names_after;
    FirstFrame first_frame;
  };
  std::vector<Case> cases = {
      {"a device that takes no byte: frame 0 is written, frame 1 fails",
       [](const TempDir& out) { symlink("/dev/full", out.file("f_1.png").c_str()); }, "f_X.png",
       0, "f_1.png", "No space left on device", {"f_0.png", "f_1.png"}, WHOLE_PNG},
      {"a file past the size limit, over an existing file",
       [&](const TempDir& out) { e2e::write_file(out.file("f_0.png"), kept); }, "f_X.png", 40,
       "f_0.png", "File too large", {"f_0.png"}, KEPT},
      {"a directory in the way",
       [](const TempDir& out) { mkdir(out.file("f_0.png").c_str(), 0700); }, "f_X.png", 0,
       "f_0.png", "Is a directory", {"f_0.png"}, NONE},
      {"no such directory", [](const TempDir&) {}, "none/f_X.png", 0, "none/f_0.png",
       "No such file or directory", {}, NONE},
  };
  // root may write into any directory
  if (geteuid() != 0)
    cases.push_back({"a directory it may not write to",
                     [&](const TempDir& out) {
                       e2e::write_file(out.file("f_0.png"), kept);
                       chmod(out.path().c_str(), 0500);
                     },
                     "f_X.png", 0, "f_0.png", "Permission denied", {"f_0.png"}, KEPT});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    TempDir out;
    c.prepare(out);
    std::vector<std::string> args = {"decode", dir.file("a.velt"), out.file(c.out_pattern)};
    e2e::RunResult run = c.file_size_limit == 0
                             ? run_velt(args)
                             : toolkit_test::run_velt_with_file_size_limit(args, c.file_size_limit);
    chmod(out.path().c_str(), 0700);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.err, "velt: " + out.file(c.failing_name) + ": " + c.reason + "\n");
    std::vector<std::string> names = list_directory(out.path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, c.names_after) << "no temporary file left";
    if (c.first_frame == WHOLE_PNG) {
      EXPECT_EQ(read_png(out.file("f_0.png")).error, 0u);
    } else if (c.first_frame == KEPT) {
      EXPECT_EQ(e2e::read_file(out.file("f_0.png")), kept);
    }
  }
}

// Writing a frame over the file being decoded would destroy it mid-run; such a
// pattern is refused before anything is written, however it names the file.
TEST(DecodeCommand, RefusesAnOutputPatternThatNamesTheInput) {
  TempDir dir;
  std::string input = dir.file("0.velt");
  ASSERT_EQ(e2e::run_encode_flags(
                {e2e::write_sequence(dir, "src", primary_frames()), input, "20", "0"})
                .exit_status,
            0);
  const Bytes original = e2e::read_file(input);
  ASSERT_EQ(link(input.c_str(), dir.file("hard_2.png").c_str()), 0);
  ASSERT_EQ(symlink(input.c_str(), dir.file("soft_4.png").c_str()), 0);
  const std::vector<std::string> names_before = list_directory(dir.path());
  struct Case {
    std::string out_pattern;
    int frame;
    const char* why;
  };
  const Case cases[] = {
      {dir.file("X.velt"), 0, "the same text"},
      {dir.path() + "/./%d.velt", 0, "another spelling of the path"},
      {dir.file("hard_X.png"), 2, "a hard link"},
      {dir.file("soft_X.png"), 4, "a symbolic link, for the last frame"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    e2e::RunResult run = run_velt({"decode", input, c.out_pattern});
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.err, "velt: decode: OUT_PATTERN names the input file " + input + " (frame " +
                           std::to_string(c.frame) + ")\n");
    EXPECT_TRUE(e2e::same_bytes(e2e::read_file(input), original));
    EXPECT_EQ(list_directory(dir.path()).size(), names_before.size()) << "nothing written";
  }
  // frame 5 would be the closing record, which decode never writes
  ASSERT_EQ(link(input.c_str(), dir.file("far_5.png").c_str()), 0);
  EXPECT_EQ(run_velt({"decode", input, dir.file("far_X.png")}).exit_status, 0);
  EXPECT_TRUE(e2e::same_bytes(e2e::read_file(input), original));
}

TEST(DecodeCommand, CommandLineMistakes) {
  TempDir dir;
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"decode", "a.velt", "frames.png"},
       "velt: decode: OUT_PATTERN needs an X or a %d for the frame number (see 'velt decode "
       "--help')\n"},
      {{"decode", "a.velt"},
       "velt: decode: expected FILE.velt and OUT_PATTERN (see 'velt decode --help')\n"},
      {{"decode", "a.velt", "X.png", "--mode", "dxt"},
       "velt: decode: unknown mode 'dxt': use opaque, alpha, opaque12 or alpha12 (see 'velt decode "
       "--help')\n"},
  };
  for (const Case& c : cases) {
    e2e::RunResult run = run_velt(c.args);
    EXPECT_EQ(run.exit_status, 2);
    EXPECT_EQ(run.err, c.err);
  }
  e2e::RunResult missing = run_velt({"decode", dir.file("none.velt"), dir.file("X.png")});
  EXPECT_EQ(missing.exit_status, 1);
  EXPECT_EQ(missing.err, "velt: " + dir.file("none.velt") + ": No such file or directory\n");
}

}  // namespace
