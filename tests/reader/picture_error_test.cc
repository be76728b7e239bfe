// Squared errors and PSNR: which pixels count, and the dB they give.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "velt_reader.h"

namespace {

struct PsnrCase {
  const char* why;
  uint64_t squared, count;
  double expected_db;
};

TEST(PictureError, PsnrOfKnownErrors) {
  const PsnrCase cases[] = {
      {"no error", 0, 100, INFINITY},
      {"every sample off by 1", 100, 100, 48.1308},
      {"every sample off by 255", 100 * 65025, 100, 0.0},
      {"one sample in a hundred off by 10", 100, 100 * 100, 68.1308},
  };
  for (const PsnrCase& c : cases) {
    SCOPED_TRACE(c.why);
    if (std::isinf(c.expected_db))
      EXPECT_TRUE(std::isinf(psnr(c.squared, c.count)));
    else
      EXPECT_NEAR(psnr(c.squared, c.count), c.expected_db, 1e-4);
  }
}

// 8x8 pictures, one pixel of block (1, 1) off by 3 in green and 4 in alpha.
TEST(PictureError, BlocksAndChannelsAreCountedApart) {
  std::vector<uint8_t> source(8 * 8 * 4, 100), decoded = source;
  const size_t pixel = (6 * 8 + 5) * 4;
  decoded[pixel + 1] += 3;
  decoded[pixel + 3] -= 4;

  const PictureError whole = picture_error(decoded.data(), source.data(), 64);
  EXPECT_EQ(whole.rgb_squared, 9u);
  EXPECT_EQ(whole.alpha_squared, 16u);
  EXPECT_EQ(whole.samples, 64u);
  EXPECT_NEAR(rgb_psnr(whole), psnr(9, 3 * 64), 1e-12);  // three samples a pixel
  EXPECT_NEAR(alpha_psnr(whole), psnr(16, 64), 1e-12);

  const PictureError block = block_error(decoded.data(), source.data(), 8, 1, 1);
  EXPECT_EQ(block.rgb_squared, 9u);
  EXPECT_EQ(block.samples, 16u);
  const PictureError other = block_error(decoded.data(), source.data(), 8, 1, 0);
  EXPECT_EQ(other.rgb_squared + other.alpha_squared, 0u);

  PictureError total = whole;
  add_picture_error(&total, block);
  EXPECT_EQ(total.rgb_squared, 18u);
  EXPECT_EQ(total.alpha_squared, 32u);
  EXPECT_EQ(total.samples, 80u);
}

}  // namespace
