#include "png_writer.h"

#include <cstdlib>

extern "C" {
#include "lodepng.h"
}

bool write_rgba_png(const std::string& path, const uint8_t* rgba, unsigned width, unsigned height,
                    std::string* error) {
  LodePNGState state;
  lodepng_state_init(&state);
  // keep every file RGBA 8-bit, so that a reader of the frames sees one layout
  state.encoder.auto_convert = 0;
  unsigned char* png = nullptr;
  size_t size = 0;
  unsigned code = lodepng_encode(&png, &size, rgba, width, height, &state);
  lodepng_state_cleanup(&state);
  if (code == 0) code = lodepng_save_file(png, size, path.c_str());
  std::free(png);
  if (code != 0) {
    *error = path + ": " + (code == 79 ? "cannot write the file" : lodepng_error_text(code));
    return false;
  }
  return true;
}
