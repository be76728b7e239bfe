// The bundled example encoded in every mode by the sandboxed program and
// decoded by the reader: quality floors, and the loop through the closing
// record back to frame 0.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

extern "C" {
#include "lodepng.h"
}

#include "e2e_support.h"
#include "reader_support.h"
#include "velt_reader.h"

namespace {

using e2e::Bytes;
using reader_support::FileCopy;

const int kWheelFrames = 16;
const unsigned kWheelSize = 128;

Bytes wheel_frame(int n) {
  const std::string path =
      std::string(VELT_SOURCE_DIR) + "/examples/wheel/frame_" + std::to_string(n) + ".png";
  unsigned char* pixels = nullptr;
  unsigned width = 0, height = 0;
  const unsigned failure = lodepng_decode32_file(&pixels, &width, &height, path.c_str());
  EXPECT_EQ(failure, 0u) << path;
  EXPECT_EQ(width, kWheelSize);
  EXPECT_EQ(height, kWheelSize);
  Bytes rgba;
  if (failure == 0) rgba.assign(pixels, pixels + size_t{width} * height * 4);
  free(pixels);
  return rgba;
}

// PSNR over all 16 frames, every pixel counted; floors a little below what
// the encoder gives now (it is exact, so any drop is a change of records).
struct ModeFloor {
  BlockMode mode;
  double rgb_db;
  double alpha_db;
  const char* why;
};

TEST(RoundTrip, WheelInEveryModeReachesItsFloorAndLoops) {
  const ModeFloor floors[] = {
      {MODE_OPAQUE, 36.5, 9.5, "measured 36.59 and 9.63: no alpha, the pane's 110 becomes 255"},
      {MODE_ALPHA, 8.0, 11.8, "measured 8.13 and 11.92: the pane (alpha 110) becomes clear black"},
      {MODE_OPAQUE12, 41.3, 9.5, "measured 41.40 and 9.63: three colours, no alpha"},
      {MODE_ALPHA12, 29.4, 26.6, "measured 29.55 and 26.71: alpha levels, two colours there"},
  };
  std::vector<Bytes> sources;
  for (int n = 0; n < kWheelFrames; ++n) sources.push_back(wheel_frame(n));
  ASSERT_FALSE(::testing::Test::HasFailure());

  e2e::TempDir dir;
  const std::string pattern = std::string(VELT_SOURCE_DIR) + "/examples/wheel/frame_X.png";
  for (const ModeFloor& f : floors) {
    SCOPED_TRACE(f.why);
    const std::string output = dir.file("wheel.velt");
    const e2e::RunResult run =
        e2e::run_encode_flags({pattern, output, "20", std::to_string(f.mode)});
    ASSERT_EQ(run.exit_status, 0) << run.out << run.err;

    const FileCopy file(e2e::read_file(output));
    VeltLayout layout;
    ReadError error;
    ASSERT_TRUE(file.read(f.mode, &layout, &error)) << error.offset << ": " << error.reason;
    ASSERT_EQ(layout.header.frame_count, kWheelFrames);
    ASSERT_EQ(layout.records.size(), size_t{kWheelFrames} + 1);

    std::vector<uint8_t> picture;
    std::vector<Bytes> frames;
    PictureError total{0, 0, 0};
    for (int n = 0; n < kWheelFrames; ++n) {
      apply_frame_record(file.data(), layout, n, &picture);
      ASSERT_EQ(picture.size(), sources[n].size());
      add_picture_error(&total, picture_error(picture.data(), sources[n].data(), kWheelSize * kWheelSize));
      frames.push_back(picture);
    }
    EXPECT_GE(rgb_psnr(total), f.rgb_db);
    EXPECT_GE(alpha_psnr(total), f.alpha_db);

    // the closing record brings frame 0 back, and records 1.. play again
    apply_frame_record(file.data(), layout, kWheelFrames, &picture);
    EXPECT_TRUE(picture == frames[0]) << "closing record";
    apply_frame_record(file.data(), layout, 1, &picture);
    EXPECT_TRUE(picture == frames[1]) << "record 1 after the closing record";
  }
}

}  // namespace
