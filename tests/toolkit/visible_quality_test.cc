// The visible picture's PSNR and SSIM on tiny pictures worked out by hand,
// and the heatmap's colour scale.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "quality_heatmap.h"
#include "visible_quality.h"

namespace {

struct Pixel {
  uint8_t r, g, b, a;
};

// A width x height RGBA picture of `fill`, with the pixels of the 4x4
// blocks in `block_column` (all rows) painted `other`.
std::vector<uint8_t> picture(int width, int height, Pixel fill, int block_column = -1,
                             Pixel other = {}) {
  std::vector<uint8_t> rgba;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const Pixel p = x / 4 == block_column ? other : fill;
      rgba.insert(rgba.end(), {p.r, p.g, p.b, p.a});
    }
  return rgba;
}

// The pixel-sized checkerboard of black and white, opaque.
std::vector<uint8_t> checkerboard(int width, int height) {
  std::vector<uint8_t> rgba;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint8_t v = (x + y) % 2 ? 255 : 0;
      rgba.insert(rgba.end(), {v, v, v, 255});
    }
  return rgba;
}

// PSNR and SSIM of the whole picture over the worse background.
struct Figures {
  double psnr;
  double ssim;
};

Figures measure(const std::vector<uint8_t>& decoded, const std::vector<uint8_t>& source,
                int width, int height) {
  VisibleError total{0, 0, 0};
  for (int by = 0; by < height / 4; ++by)
    for (int bx = 0; bx < width / 4; ++bx) {
      const VisibleError block = visible_block_error(decoded.data(), source.data(), width, bx, by);
      total.over_black += block.over_black;
      total.over_white += block.over_white;
      total.pixels += block.pixels;
    }
  std::vector<SsimBlockSums> scratch;
  const VisibleSsim ssim = visible_ssim(decoded.data(), source.data(), width, height, &scratch);
  return Figures{visible_psnr(total), std::min(ssim.over_black, ssim.over_white)};
}

struct VisibleCase {
  const char* why;
  int width, height;
  std::vector<uint8_t> decoded, source;
  double psnr;  // dB, INFINITY for exact
  double ssim;
};

// With uniform pictures the variances vanish and SSIM is
// (2 mx my + C1) / (mx^2 + my^2 + C1), C1 = 6.5025, C2 = 58.5225 (levels^2).
TEST(VisibleQuality, PsnrAndSsimOfTheWorseBackground) {
  const VisibleCase cases[] = {
      {"transparent pixels are exact whatever their colour", 8, 8,
       picture(8, 8, {200, 100, 50, 0}), picture(8, 8, {10, 20, 30, 0}), INFINITY, 1.0},
      {"identical translucent pictures", 8, 8, picture(8, 8, {9, 80, 200, 77}, 1, {1, 2, 3, 128}),
       picture(8, 8, {9, 80, 200, 77}, 1, {1, 2, 3, 128}), INFINITY, 1.0},
      // red off by 10 at alpha 51 shows 2 levels off: 4 / 3 per sample,
      // 10 log10(65025 * 3 / 4); over black the luma is 5252 / 255 against
      // 20 (102990 * 51 / 1000 rounded, in 1/255 levels), SSIM
      // 1 - (152 / 255)^2 / (mx^2 + my^2 + C1)
      {"a translucent pixel's error counts scaled by its alpha", 4, 4,
       picture(4, 4, {110, 100, 100, 51}), picture(4, 4, {100, 100, 100, 51}), 46.8814,
       0.999572},
      // black at alpha 204 is black over black, and 51 over white:
      // 10 log10(255^2 / 51^2); SSIM C1 / (51^2 + C1)
      {"an alpha error over white, where it shows", 8, 8, picture(8, 8, {0, 0, 0, 204}),
       picture(8, 8, {0, 0, 0, 255}), 13.9794, 0.00249377},
      // white at alpha 204 is white over white, and 204 over black:
      // SSIM (2 * 204 * 255 + C1) / (204^2 + 255^2 + C1)
      {"the same alpha error over black, where it shows", 8, 8,
       picture(8, 8, {255, 255, 255, 204}), picture(8, 8, {255, 255, 255, 255}), 13.9794,
       0.975611},
      // grey 128 against a checkerboard of 0 and 255: MSE (128^2 + 127^2) / 2;
      // mx 128, my 127.5, variances 0 and 127.5^2, no covariance: SSIM
      // (2 * 128 * 127.5 + C1) C2 / ((128^2 + 127.5^2 + C1)(127.5^2 + C2))
      {"structure lost: a checkerboard made flat", 8, 8, picture(8, 8, {128, 128, 128, 255}),
       checkerboard(8, 8), 6.0205, 0.00358706},
      // 12x8: windows at x 0 and 4; only the second holds block column 2.
      // There mx 105, my 100, variance 25: s = (2 * 105 * 100 + C1) C2 /
      // ((105^2 + 100^2 + C1)(25 + C2)) = 0.699847; the mean (1 + s) / 2.
      // 32 of 96 pixels off by 10: 10 log10(65025 / (100 / 3))
      {"windows every 4 pixels, the mean over windows", 12, 8,
       picture(12, 8, {100, 100, 100, 255}, 2, {110, 110, 110, 255}),
       picture(12, 8, {100, 100, 100, 255}), 32.9020, 0.849923},
      // 8x4: one window of two blocks; the right block off by 10 as above:
      // mx 105, my 100, variance 25 over 32 pixels
      {"a picture one block high has windows one block high", 8, 4,
       picture(8, 4, {100, 100, 100, 255}, 1, {110, 110, 110, 255}),
       picture(8, 4, {100, 100, 100, 255}), 31.1411, 0.699847},
  };
  for (const VisibleCase& c : cases) {
    SCOPED_TRACE(c.why);
    const Figures figures = measure(c.decoded, c.source, c.width, c.height);
    if (std::isinf(c.psnr))
      EXPECT_TRUE(std::isinf(figures.psnr)) << figures.psnr;
    else
      EXPECT_NEAR(figures.psnr, c.psnr, 1e-4);
    if (c.ssim == 1.0)
      EXPECT_EQ(figures.ssim, 1.0);  // exactly
    else
      EXPECT_NEAR(figures.ssim, c.ssim, 1e-6);
  }
}

TEST(QualityHeatmap, BandsOfTheScale) {
  const uint64_t level = 48 * 255 * 255;  // a mean of one level squared per sample
  const struct {
    uint64_t squared;
    HeatBand band;
  } cases[] = {
      {0, HEAT_EXACT},
      {1, HEAT_BELOW_1},
      {level - 1, HEAT_BELOW_1},
      {level, HEAT_BELOW_4},
      {4 * level - 1, HEAT_BELOW_4},
      {4 * level, HEAT_BELOW_16},
      {16 * level, HEAT_BELOW_64},
      {64 * level - 1, HEAT_BELOW_64},
      {64 * level, HEAT_WORST},
      {UINT64_MAX, HEAT_WORST},
  };
  for (const auto& c : cases) EXPECT_EQ(heat_band(c.squared), c.band) << c.squared;
}

// A backdrop 12 pixels wide: a transparent block (mid grey, luma 128, dimmed
// to 64 + 32), an opaque white one (64 + 63) and an opaque red one (luma 76,
// 64 + 19), with errors in three bands.
TEST(QualityHeatmap, DimmedBackdropTintedByBand) {
  std::vector<uint8_t> backdrop = picture(12, 4, {30, 60, 90, 0}, 1, {255, 255, 255, 255});
  for (int y = 0; y < 4; ++y)
    for (int x = 8; x < 12; ++x) {
      uint8_t* p = &backdrop[size_t(y * 12 + x) * 4];
      p[0] = 255, p[1] = 0, p[2] = 0, p[3] = 255;
    }
  const uint64_t level = 48 * 255 * 255;
  const std::vector<uint8_t> heatmap =
      quality_heatmap(backdrop.data(), 12, 4, {0, 2 * level, 100 * level});
  ASSERT_EQ(heatmap.size(), 12u * 4 * 4);
  const Pixel expected[3] = {
      {96, 96, 96, 255},                         // exact: the grey alone
      {127 / 2, (127 + 255) / 2, 127 / 2, 255},  // green
      {(83 + 255) / 2, 83 / 2, 83 / 2, 255},     // red
  };
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 12; ++x) {
      const uint8_t* p = &heatmap[size_t(y * 12 + x) * 4];
      const Pixel& e = expected[x / 4];
      EXPECT_EQ((std::vector<int>{p[0], p[1], p[2], p[3]}), (std::vector<int>{e.r, e.g, e.b, e.a}))
          << "x " << x << ", y " << y;
    }
}

}  // namespace
