#include "png_bounded_decode.h"

#include <stdint.h>
#include <stdlib.h>

#include "png_decoder.h"

namespace {

// lodepng's code for sizes that could overflow its arithmetic.
const unsigned kPixelOverflow = 92;

// Adam7's seven passes: first column, first row, column step, row step.
const uint8_t kAdam7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                              {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

// Adds the image data of a `width` x `height` picture to *total: each row is
// a filter byte and the row's samples padded to a whole byte; an empty
// picture has no rows at all. Returns false if the sum does not fit a size_t.
bool add_rows(uint64_t width, uint64_t height, unsigned bits_per_pixel, size_t* total) {
  if (width == 0 || height == 0) return true;
  // (width * bits + 7) / 8 without forming width * bits
  uint64_t row = (width / 8) * bits_per_pixel + ((width % 8) * bits_per_pixel + 7) / 8 + 1;
  if (row > SIZE_MAX / height) return false;
  size_t bytes = (size_t)(row * height);
  if (bytes > SIZE_MAX - *total) return false;
  *total += bytes;
  return true;
}

// The exact number of bytes a valid picture's image data inflates to.
bool image_data_size(unsigned width, unsigned height, unsigned bits_per_pixel, bool interlaced,
                     size_t* size) {
  *size = 0;
  if (!interlaced) return add_rows(width, height, bits_per_pixel, size);
  for (const uint8_t* pass : kAdam7) {
    // the pass holds the pixels at first + k * step inside the picture
    uint64_t pass_width = ((uint64_t)width + pass[2] - 1 - pass[0]) / pass[2];
    uint64_t pass_height = ((uint64_t)height + pass[3] - 1 - pass[1]) / pass[3];
    if (!add_rows(pass_width, pass_height, bits_per_pixel, size)) return false;
  }
  return true;
}

}  // namespace

unsigned decode_png_rgba(unsigned char** pixels, unsigned* width, unsigned* height,
                         const unsigned char* png, size_t png_size) {
  *pixels = nullptr;
  *width = 0;
  *height = 0;
  // the settings of lodepng_decode32
  LodePNGState state;
  lodepng_state_init(&state);
  state.info_raw.colortype = LCT_RGBA;
  state.info_raw.bitdepth = 8;
  state.decoder.read_text_chunks = 0;
  state.decoder.remember_unknown_chunks = 0;

  unsigned w = 0, h = 0;
  unsigned error = lodepng_inspect(&w, &h, &state, png, png_size);
  size_t expected = 0;
  if (error == 0 && !image_data_size(w, h, lodepng_get_bpp(&state.info_png.color),
                                     state.info_png.interlace_method != 0, &expected)) {
    // no memory holds such a picture: report it as lodepng reports sizes
    // that could overflow its arithmetic
    error = kPixelOverflow;
  }
  if (error == 0) {
    // never 0 (which would mean no limit): the header has no empty side
    state.decoder.zlibsettings.max_output_size = expected;
    error = lodepng_decode(pixels, &w, &h, &state, png, png_size);
  }
  lodepng_state_cleanup(&state);
  if (error != 0) {
    free(*pixels);
    *pixels = nullptr;
    return error;
  }
  *width = w;
  *height = h;
  return 0;
}

bool png_header_size(const unsigned char* png, size_t png_size, unsigned* width,
                     unsigned* height) {
  LodePNGState state;
  lodepng_state_init(&state);
  bool known = lodepng_inspect(width, height, &state, png, png_size) == 0;
  lodepng_state_cleanup(&state);
  return known;
}
