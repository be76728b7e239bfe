#include "visible_quality.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// One level squared, in the units of the squared errors.
constexpr double kLevelSquared = 255.0 * 255.0;
// SSIM's constants (0.01 * 255)^2 and (0.03 * 255)^2, in units of
// (1/255 level)^2.
constexpr double kC1 = (0.01 * 255 * 255) * (0.01 * 255 * 255);
constexpr double kC2 = (0.03 * 255 * 255) * (0.03 * 255 * 255);

// What shows through a pixel of alpha `a` over white, in 1/255 of a level.
int white_showing(int a) { return 255 * (255 - a); }

// Luma of a pixel composited over black, in 1/255 of a level, rounded.
int64_t luma_over_black(const uint8_t* p) {
  return ((299 * p[0] + 587 * p[1] + 114 * p[2]) * p[3] + 500) / 1000;
}

void add_block_sums(int64_t x, int64_t y, SsimBlockSums* sums) {
  sums->decoded += x;
  sums->source += y;
  sums->decoded_sq += x * x;
  sums->source_sq += y * y;
  sums->cross += x * y;
}

// SSIM of one window of `n` pixels from its sums. Every integer term is exact
// in a double (below 2^53 for n <= 64), and identical pictures give the
// numerator's two factors bit for bit equal to the denominator's.
double window_ssim(const SsimBlockSums& s, int64_t n) {
  const int64_t mean_product = 2 * s.decoded * s.source;
  const int64_t mean_squares = s.decoded * s.decoded + s.source * s.source;
  const int64_t covariance = 2 * (n * s.cross - s.decoded * s.source);
  const int64_t variances =
      (n * s.decoded_sq - s.decoded * s.decoded) + (n * s.source_sq - s.source * s.source);
  const double nn = double(n * n);
  return ((double(mean_product) + kC1 * nn) * (double(covariance) + kC2 * nn)) /
         ((double(mean_squares) + kC1 * nn) * (double(variances) + kC2 * nn));
}

void add_sums(const SsimBlockSums& part, SsimBlockSums* total) {
  total->decoded += part.decoded;
  total->source += part.source;
  total->decoded_sq += part.decoded_sq;
  total->source_sq += part.source_sq;
  total->cross += part.cross;
}

// The mean SSIM over all windows of `sx` by `sy` blocks, placed every block,
// of a picture of `across` by `down` blocks' sums.
double mean_window_ssim(const SsimBlockSums* blocks, int across, int down, int sx, int sy) {
  const int64_t n = 16 * sx * sy;
  double total = 0;
  for (int by = 0; by + sy <= down; ++by) {
    for (int bx = 0; bx + sx <= across; ++bx) {
      SsimBlockSums window{};
      for (int j = 0; j < sy; ++j)
        for (int i = 0; i < sx; ++i) add_sums(blocks[size_t(by + j) * across + bx + i], &window);
      total += window_ssim(window, n);
    }
  }
  return total / (double(across - sx + 1) * double(down - sy + 1));
}

}  // namespace

uint64_t worse_visible_squared(const VisibleError& error) {
  return std::max(error.over_black, error.over_white);
}

double visible_psnr(double squared, uint64_t pixels) {
  if (squared == 0) return INFINITY;
  return 10.0 * std::log10(kLevelSquared * kLevelSquared * 3.0 * double(pixels) / squared);
}

double visible_psnr(const VisibleError& error) {
  return visible_psnr(double(worse_visible_squared(error)), error.pixels);
}

VisibleError visible_block_error(const uint8_t* decoded, const uint8_t* source, int width,
                                 int block_x, int block_y) {
  VisibleError error{0, 0, 16};
  const size_t top_left = (size_t(block_y) * 4 * size_t(width) + size_t(block_x) * 4) * 4;
  const size_t row_bytes = size_t(width) * 4;
  unsigned alpha_and = 255;  // 255 only when every alpha of both blocks is
  for (size_t row = 0; row < 4; ++row)
    for (size_t i = top_left + row * row_bytes + 3; i < top_left + row * row_bytes + 16; i += 4)
      alpha_and &= decoded[i] & source[i];
  if (alpha_and == 255) {
    // both backgrounds are hidden: the plain colour error, in 1/255 levels
    uint32_t squares = 0;  // at most 48 * 255^2
    for (size_t row = 0; row < 4; ++row) {
      const size_t first = top_left + row * row_bytes;
      for (size_t i = first; i < first + 16; i += 4) {
        const int r = decoded[i] - source[i];
        const int g = decoded[i + 1] - source[i + 1];
        const int b = decoded[i + 2] - source[i + 2];
        squares += uint32_t(r * r + g * g + b * b);
      }
    }
    error.over_black = error.over_white = uint64_t(squares) * 255 * 255;
    return error;
  }
  for (size_t row = 0; row < 4; ++row) {
    const size_t first = top_left + row * row_bytes;
    for (size_t i = first; i < first + 16; i += 4) {
      const int da = decoded[i + 3], sa = source[i + 3];
      const int64_t r = decoded[i] * da - source[i] * sa;
      const int64_t g = decoded[i + 1] * da - source[i + 1] * sa;
      const int64_t b = decoded[i + 2] * da - source[i + 2] * sa;
      const int64_t squares = r * r + g * g + b * b;
      // over white each channel's difference grows by k: (d + k)^2 summed
      const int64_t k = white_showing(da) - white_showing(sa);
      error.over_black += uint64_t(squares);
      error.over_white += uint64_t(squares + k * (2 * (r + g + b) + 3 * k));
    }
  }
  return error;
}

VisibleSsim visible_ssim(const uint8_t* decoded, const uint8_t* source, int width, int height,
                         std::vector<SsimBlockSums>* scratch) {
  const int across = width / 4, down = height / 4;
  const size_t blocks = size_t(across) * size_t(down);
  if (blocks == 0) return VisibleSsim{1.0, 1.0};
  // the first half holds the sums over black, the second those over white
  scratch->resize(2 * blocks);
  SsimBlockSums* black = scratch->data();
  SsimBlockSums* white = black + blocks;
  bool all_opaque = true;
  for (int by = 0; by < down; ++by) {
    for (int bx = 0; bx < across; ++bx) {
      SsimBlockSums over_black{}, over_white{};
      int64_t x[16], y[16];  // the block's lumas over black
      size_t at[16];         // and where its pixels lie
      unsigned alpha_and = 255;  // 255 only when every alpha of both blocks is
      for (size_t row = 0, k = 0; row < 4; ++row) {
        const size_t first = ((size_t(by) * 4 + row) * size_t(width) + size_t(bx) * 4) * 4;
        for (size_t i = first; i < first + 16; i += 4, ++k) {
          at[k] = i;
          x[k] = luma_over_black(decoded + i);
          y[k] = luma_over_black(source + i);
          add_block_sums(x[k], y[k], &over_black);
          alpha_and &= decoded[i + 3] & source[i + 3];
        }
      }
      const bool opaque = alpha_and == 255;
      all_opaque = all_opaque && opaque;
      if (opaque) {
        over_white = over_black;  // nothing shows through: both backgrounds look the same
      } else {
        for (size_t k = 0; k < 16; ++k)
          add_block_sums(x[k] + white_showing(decoded[at[k] + 3]),
                         y[k] + white_showing(source[at[k] + 3]), &over_white);
      }
      black[size_t(by) * size_t(across) + size_t(bx)] = over_black;
      white[size_t(by) * size_t(across) + size_t(bx)] = over_white;
    }
  }
  const int sx = std::min(2, across), sy = std::min(2, down);
  const double over_black = mean_window_ssim(black, across, down, sx, sy);
  if (all_opaque) return VisibleSsim{over_black, over_black};
  return VisibleSsim{over_black, mean_window_ssim(white, across, down, sx, sy)};
}

uint32_t largest_visible_difference(const uint8_t* decoded, const uint8_t* source, size_t pixels) {
  uint32_t largest = 0;
  for (size_t i = 0; i < pixels * 4; i += 4) {
    const int da = decoded[i + 3], sa = source[i + 3];
    for (size_t c = i; c < i + 3; ++c) {
      const int over_black = std::abs(decoded[c] * da - source[c] * sa);
      const int over_white = std::abs((255 - decoded[c]) * da - (255 - source[c]) * sa);
      largest = std::max(largest, uint32_t(std::max(over_black, over_white)));
    }
  }
  return largest;
}
