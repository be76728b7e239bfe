// The PNG decoding module's entry: decodes one PNG file into module memory,
// so that the host never runs the decoder on untrusted bytes itself.
#include <stdint.h>
#include <stdlib.h>

#include "png_bounded_decode.h"
#include "png_decoder.h"

// Result codes beside lodepng's own (which are below 100).
enum { PNG_TOO_LARGE = 1000 };

// Where the entry leaves a decoded picture for the host: three 32-bit words.
struct DecodedPng {
  uint32_t width;
  uint32_t height;
  uint32_t pixels;  // module offset of width * height RGBA pixels; 0 on failure
};

// Decodes the PNG file at `path` to 8-bit RGBA. Pictures wider or higher
// than `max_side` pixels are refused from their header, before any pixel
// memory is taken, and image data that inflates past the size the header
// implies is cut off there (lodepng's error 109). Fills `result` and returns
// 0, or lodepng's error code, or PNG_TOO_LARGE. The host frees the pixels
// with the allocator's free.
extern "C" __attribute__((export_name("d"))) uint32_t decode_png(const char* path,
                                                                 DecodedPng* result,
                                                                 uint32_t max_side) {
  result->width = 0;
  result->height = 0;
  result->pixels = 0;
  unsigned char* file = nullptr;
  size_t file_size = 0;
  unsigned error = lodepng_load_file(&file, &file_size, path);
  unsigned width = 0, height = 0;
  if (error == 0) {
    LodePNGState state;
    lodepng_state_init(&state);
    error = lodepng_inspect(&width, &height, &state, file, file_size);
    lodepng_state_cleanup(&state);
  }
  if (error == 0 && (width > max_side || height > max_side)) error = PNG_TOO_LARGE;
  unsigned char* pixels = nullptr;
  if (error == 0) error = decode_png_rgba(&pixels, &width, &height, file, file_size);
  free(file);
  if (error != 0) {
    free(pixels);
    return error;
  }
  result->width = width;
  result->height = height;
  result->pixels = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pixels));
  return 0;
}
