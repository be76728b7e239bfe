// Squared errors of decoded pictures against their sources, and PSNR.
#include <cmath>

#include "velt_reader.h"

namespace {

void add_pixel(const uint8_t* decoded, const uint8_t* source, PictureError* error) {
  for (int c = 0; c < 3; ++c) {
    const int d = decoded[c] - source[c];
    error->rgb_squared += uint64_t(d * d);
  }
  const int d = decoded[3] - source[3];
  error->alpha_squared += uint64_t(d * d);
  error->samples += 1;
}

}  // namespace

double psnr(uint64_t squared, uint64_t count) {
  if (squared == 0) return INFINITY;
  const double mean = double(squared) / double(count);
  return 10.0 * std::log10(255.0 * 255.0 / mean);
}

PictureError picture_error(const uint8_t* decoded, const uint8_t* source, size_t pixels) {
  PictureError error{0, 0, 0};
  for (size_t i = 0; i < pixels; ++i) add_pixel(decoded + 4 * i, source + 4 * i, &error);
  return error;
}

PictureError block_error(const uint8_t* decoded, const uint8_t* source, int width, int block_x,
                         int block_y) {
  PictureError error{0, 0, 0};
  for (size_t row = 0; row < 4; ++row) {
    const size_t first = ((size_t(block_y) * 4 + row) * size_t(width) + size_t(block_x) * 4) * 4;
    for (size_t i = 0; i < 4; ++i) add_pixel(decoded + first + 4 * i, source + first + 4 * i, &error);
  }
  return error;
}

void add_picture_error(PictureError* total, const PictureError& part) {
  total->rgb_squared += part.rgb_squared;
  total->alpha_squared += part.alpha_squared;
  total->samples += part.samples;
}

double rgb_psnr(const PictureError& error) { return psnr(error.rgb_squared, 3 * error.samples); }

double alpha_psnr(const PictureError& error) { return psnr(error.alpha_squared, error.samples); }
