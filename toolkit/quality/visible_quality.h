// How close a decoded picture looks to its source: both RGBA pictures shown
// as a viewer sees them, composited over black and over white, and measured
// by PSNR and SSIM. A fully transparent pixel shows only the background, so
// its colour never counts; a translucent pixel's colour counts in proportion
// to its alpha, and an alpha error counts as the background showing through.
//
// Arithmetic is exact integers up to the last step. Composited channels are
// kept in units of 1/255 of a level (c * a over black, c * a + 255 * (255 - a)
// over white), so no rounding happens before an error is squared; squared
// errors are in units of (1/255 level)^2.
#ifndef VELT_TOOLKIT_VISIBLE_QUALITY_H
#define VELT_TOOLKIT_VISIBLE_QUALITY_H

#include <cstddef>
#include <cstdint>
#include <vector>

// Squared errors of the visible picture over each background, summed over
// the three colour channels of `pixels` pixels.
struct VisibleError {
  uint64_t over_black;
  uint64_t over_white;
  uint64_t pixels;
};

// The squared error over the worse background (the larger sum).
uint64_t worse_visible_squared(const VisibleError& error);

// PSNR in dB of a squared error in (1/255 level)^2 summed over `pixels`
// pixels of three channels; infinity when it is 0.
double visible_psnr(double squared, uint64_t pixels);
// PSNR of the worse background.
double visible_psnr(const VisibleError& error);

// The visible errors of one 4x4 block (its top-left pixel at 4 * block_x,
// 4 * block_y) of two RGBA pictures `width` pixels wide.
VisibleError visible_block_error(const uint8_t* decoded, const uint8_t* source, int width,
                                 int block_x, int block_y);

// The largest visible difference of any colour channel of any of `pixels`
// pixels of two RGBA pictures, over the worse background, in 1/255 of a
// level: what a tolerance bounds.
uint32_t largest_visible_difference(const uint8_t* decoded, const uint8_t* source, size_t pixels);

// Mean SSIM over the windows of a picture, over each background.
struct VisibleSsim {
  double over_black;
  double over_white;
};

// Luma sums of one 4x4 block of the two pictures over one background: the
// pieces every SSIM window is added up from.
struct SsimBlockSums {
  int64_t decoded, source;               // sums of luma
  int64_t decoded_sq, source_sq, cross;  // sums of squares and of products
};

// SSIM of the visible pictures' luma (BT.601 weights 0.299, 0.587, 0.114,
// rounded to 1/255 of a level) over each background. Windows are 8x8
// pixels, two blocks by two, placed every 4 pixels: every block edge lies
// inside some window, and each window is the sum of four blocks' sums. A
// picture only one block wide or high has windows one block wide or high.
// A window takes the plain means, variances and covariance of its pixels and
// the constants C1 = (0.01 * 255)^2, C2 = (0.03 * 255)^2. Identical pictures
// give exactly 1. `scratch` is working storage kept between frames.
VisibleSsim visible_ssim(const uint8_t* decoded, const uint8_t* source, int width, int height,
                         std::vector<SsimBlockSums>* scratch);

#endif
