// velt compare end to end: PSNR figures that can be worked out by hand, the
// JSON form, sources that do not fit the file, and the heatmap.
#include <cstdlib>

#include "e2e_support.h"
#include "velt_program.h"

extern "C" {
#include "lodepng.h"
}

namespace {

using e2e::Image;
using e2e::TempDir;
using toolkit_test::run_velt;

// Grey 100 becomes RGB565 (12, 25, 12), which reads back as (99, 101, 99):
// a squared error of 3 in every pixel of the block, alpha exact.
const e2e::Rgba kGrey100 = {100, 100, 100, 255};

struct Encoded {
  TempDir dir;
  std::string pattern;
  std::string file;
};

// Frame 0 all red (exact); frame 1 red with block (1, 0) grey 100. Per frame
// 32 pixels, 96 RGB samples: frame 1 has 48 / 96 = 0.5 mean squared error,
// 51.14 dB; both frames 48 / 192, 54.15 dB; the grey block 3, 48.13 dB. All
// opaque, so the visible PSNR is the RGB one. Frame 1's one SSIM window of
// 8x4 pixels: half red, half luma 100.17 against 100, 0.999978.
void encode_red_and_grey(Encoded* e) {
  Image second(8, 4, e2e::kRed);
  second.fill_block(1, 0, kGrey100);
  e->pattern = e2e::write_sequence(e->dir, "src", {Image(8, 4, e2e::kRed), second});
  e->file = e->dir.file("a.velt");
  ASSERT_EQ(e2e::run_encode({e->pattern, e->file, "20"}).exit_status, 0);
}

TEST(CompareCommand, TableOfPsnrPerFrameOverallAndTheWorstBlock) {
  Encoded e;
  encode_red_and_grey(&e);
  e2e::RunResult run = run_velt({"compare", e.file, e.pattern});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out,
            "frame      RGB PSNR    alpha PSNR  visible PSNR  visible SSIM  max visible\n"
            "    0         exact         exact         exact      1.000000          0.0\n"
            "    1      51.14 dB         exact      51.14 dB      0.999978          1.0\n"
            "  all      54.15 dB         exact      54.15 dB      0.999989          1.0\n"
            "worst block: frame 1 at x 4, y 0: RGB 48.13 dB, alpha exact\n"
            "worst visible block: frame 1 at x 4, y 0: 48.13 dB\n");
}

TEST(CompareCommand, JsonWithNullForExactMatches) {
  Encoded e;
  encode_red_and_grey(&e);
  e2e::RunResult run = run_velt({"compare", e.file, e.dir.file("src_%d.png"), "--json"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "{\"file\": \"" + e.file +
                         "\", \"frames\": ["
                         "{\"frame\": 0, \"rgb_psnr\": null, \"alpha_psnr\": null, "
                         "\"visible_psnr\": null, \"visible_ssim\": 1.000000, \"visible_max_error\": 0.0}, "
                         "{\"frame\": 1, \"rgb_psnr\": 51.1411, \"alpha_psnr\": null, "
                         "\"visible_psnr\": 51.1411, \"visible_ssim\": 0.999978, \"visible_max_error\": 1.0}], "
                         "\"overall\": {\"rgb_psnr\": 54.1514, \"alpha_psnr\": null, "
                         "\"visible_psnr\": 54.1514, \"visible_ssim\": 0.999989, \"visible_max_error\": 1.0}, "
                         "\"worst_block\": {\"frame\": 1, \"x\": 4, \"y\": 0, \"rgb_psnr\": "
                         "48.1308, \"alpha_psnr\": null}, "
                         "\"worst_visible_block\": {\"frame\": 1, \"x\": 4, \"y\": 0, "
                         "\"visible_psnr\": 48.1308}}\n");
}

TEST(CompareCommand, AlphaIsMeasuredApart) {
  TempDir dir;
  // opaque records keep no alpha: a source alpha of 127 reads back as 255,
  // 128 off in every pixel: 10 log10(255^2 / 128^2) = 5.99 dB. A viewer sees
  // it over white, where green and blue show 128 levels off (its max visible):
  // 10 log10(255^2 * 3 / (2 * 128^2)) = 7.75 dB; luma 76.24 against 165.97,
  // SSIM (2 * 76.24 * 165.97 + C1) / (76.24^2 + 165.97^2 + C1) = 0.758698
  std::string pattern = e2e::write_sequence(dir, "src", {Image(4, 4, {255, 0, 0, 127})});
  ASSERT_EQ(e2e::run_encode({pattern, dir.file("a.velt"), "20"}).exit_status, 0);
  e2e::RunResult run = run_velt({"compare", dir.file("a.velt"), pattern});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_NE(run.out.find("  all         exact       5.99 dB       7.75 dB      0.758698        128.0\n"),
            std::string::npos)
      << run.out;
}

TEST(CompareCommand, SourcesThatDoNotFitAreRefused) {
  Encoded e;
  encode_red_and_grey(&e);
  e2e::write_png(e.dir.file("small_0.png"), Image(4, 4, e2e::kRed));
  e2e::write_png(e.dir.file("small_1.png"), Image(4, 4, e2e::kRed));
  e2e::write_png(e.dir.file("bad_0.png"), Image(8, 4, e2e::kRed));
  e2e::write_file(e.dir.file("bad_1.png"), {0x89, 'P', 'N', 'G', 1, 2, 3, 4, 5});
  struct Case {
    std::string input;
    std::string err;
  };
  const Case cases[] = {
      {e.dir.file("src_0.png"),
       "velt: " + e.dir.file("src_0.png") + ": 1 frames, but " + e.file + " holds 2\n"},
      {e.dir.file("small_X.png"),
       "velt: " + e.dir.file("small_0.png") + ": 4x4 pixels, but " + e.file + " is 8x4\n"},
      {e.dir.file("bad_X.png"),
       "velt: " + e.dir.file("bad_1.png") +
           ": not a valid PNG file: PNG file is smaller than a PNG header\n"},
  };
  for (const Case& c : cases) {
    e2e::RunResult run = run_velt({"compare", e.file, c.input});
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
  }
}

// Frame 0 is all red, whose grey is 64 + 76 / 4 = 83; block (1, 0) is grey
// 100 in frame 1 only, so frame 0 is exact and the heatmap an untinted grey.
// The grey block is one level squared off per sample, the first value of
// the green band: with that frame first, the block's grey 64 + 100 / 4 = 89
// is tinted green.
TEST(CompareCommand, HeatmapOfTheFirstFrame) {
  Encoded e;
  encode_red_and_grey(&e);
  Image second(8, 4, e2e::kRed);
  second.fill_block(1, 0, kGrey100);
  const std::string pattern =
      e2e::write_sequence(e.dir, "swapped", {second, Image(8, 4, e2e::kRed)});
  const std::string swapped = e.dir.file("b.velt");
  ASSERT_EQ(e2e::run_encode({pattern, swapped, "20"}).exit_status, 0);
  struct Case {
    std::string file, pattern;
    e2e::Rgba right_block;
  };
  const Case cases[] = {
      {e.file, e.pattern, {83, 83, 83, 255}},
      {swapped, pattern, {89 / 2, (89 + 255) / 2, 89 / 2, 255}},
  };
  for (const Case& c : cases) {
    const std::string out = e.dir.file("heat.png");
    e2e::RunResult run = run_velt({"compare", c.file, c.pattern, "--heatmap", out});
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_NE(run.out.find("worst visible block: frame"), std::string::npos) << run.out;
    unsigned char* rgba = nullptr;
    unsigned width = 0, height = 0;
    ASSERT_EQ(lodepng_decode32_file(&rgba, &width, &height, out.c_str()), 0u);
    EXPECT_EQ(width, 8u);
    EXPECT_EQ(height, 4u);
    for (unsigned i = 0; i < 8 * 4; ++i) {
      const e2e::Rgba want = i % 8 < 4 ? e2e::Rgba{83, 83, 83, 255} : c.right_block;
      EXPECT_EQ(std::vector<int>(rgba + 4 * i, rgba + 4 * i + 4),
                (std::vector<int>{want.r, want.g, want.b, want.a}))
          << c.file << ", pixel " << i;
    }
    std::free(rgba);
  }
}

// A heatmap that cannot be written leaves no file and keeps what was there.
TEST(CompareCommand, HeatmapFailuresLeaveNothing) {
  Encoded e;
  encode_red_and_grey(&e);
  e2e::write_file(e.dir.file("bad_0.png"), e2e::read_file(e.dir.file("src_0.png")));
  e2e::write_file(e.dir.file("bad_1.png"), {0x89, 'P', 'N', 'G', 1, 2, 3, 4, 5});
  e2e::write_file(e.dir.file("old.png"), {'o', 'l', 'd'});
  const std::string missing = e.dir.file("none/heat.png");
  struct Case {
    const char* why;
    std::string input, out, err;
  };
  const Case cases[] = {
      {"the input file", e.pattern, e.file,
       "compare: cannot write heatmap " + e.file + ": it is the input file " + e.file},
      {"a source frame", e.pattern, e.dir.file("src_1.png"),
       "compare: cannot write heatmap " + e.dir.file("src_1.png") + ": it is the frame " +
           e.dir.file("src_1.png")},
      {"a source frame by another name", e.pattern, e.dir.path() + "/./src_0.png",
       "compare: cannot write heatmap " + e.dir.path() + "/./src_0.png: it is the frame " +
           e.dir.file("src_0.png")},
      {"a directory", e.pattern, e.dir.path(),
       "compare: cannot write heatmap " + e.dir.path() + ": it is a directory"},
      {"a missing directory", e.pattern, missing,
       "compare: cannot write heatmap " + missing + ": No such file or directory"},
      {"a source frame that fails", e.dir.file("bad_X.png"), e.dir.file("old.png"),
       e.dir.file("bad_1.png") + ": not a valid PNG file: PNG file is smaller than a PNG header"},
  };
  const std::vector<std::string> names = toolkit_test::list_directory(e.dir.path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const bool directory = c.out == e.dir.path();
    const e2e::Bytes before = directory ? e2e::Bytes{} : e2e::read_file(c.out);
    e2e::RunResult run = run_velt({"compare", e.file, c.input, "--heatmap", c.out});
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "velt: " + c.err + "\n");
    if (!directory) {
      EXPECT_EQ(e2e::read_file(c.out), before);
    }
    EXPECT_EQ(toolkit_test::list_directory(e.dir.path()), names);
  }
}

}  // namespace
