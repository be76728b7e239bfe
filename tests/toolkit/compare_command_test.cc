// velt compare end to end: PSNR figures that can be worked out by hand, the
// JSON form, and sources that do not fit the file.
#include "e2e_support.h"
#include "velt_program.h"

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
// 51.14 dB; both frames 48 / 192, 54.15 dB; the grey block 3, 48.13 dB.
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
            "frame      RGB PSNR    alpha PSNR\n"
            "    0         exact         exact\n"
            "    1      51.14 dB         exact\n"
            "  all      54.15 dB         exact\n"
            "worst block: frame 1 at x 4, y 0: RGB 48.13 dB, alpha exact\n");
}

TEST(CompareCommand, JsonWithNullForExactMatches) {
  Encoded e;
  encode_red_and_grey(&e);
  e2e::RunResult run = run_velt({"compare", e.file, e.dir.file("src_%d.png"), "--json"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "{\"file\": \"" + e.file +
                         "\", \"frames\": ["
                         "{\"frame\": 0, \"rgb_psnr\": null, \"alpha_psnr\": null}, "
                         "{\"frame\": 1, \"rgb_psnr\": 51.1411, \"alpha_psnr\": null}], "
                         "\"overall\": {\"rgb_psnr\": 54.1514, \"alpha_psnr\": null}, "
                         "\"worst_block\": {\"frame\": 1, \"x\": 4, \"y\": 0, \"rgb_psnr\": "
                         "48.1308, \"alpha_psnr\": null}}\n");
}

TEST(CompareCommand, AlphaIsMeasuredApart) {
  TempDir dir;
  // opaque records keep no alpha: a source alpha of 127 reads back as 255,
  // 128 off in every pixel: 10 log10(255^2 / 128^2) = 5.99 dB
  std::string pattern = e2e::write_sequence(dir, "src", {Image(4, 4, {255, 0, 0, 127})});
  ASSERT_EQ(e2e::run_encode({pattern, dir.file("a.velt"), "20"}).exit_status, 0);
  e2e::RunResult run = run_velt({"compare", dir.file("a.velt"), pattern});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_NE(run.out.find("  all         exact       5.99 dB\n"), std::string::npos) << run.out;
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

}  // namespace
