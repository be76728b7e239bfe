// Cuts small frame sequences out of the bundled example, for the fuzzer's
// seed files: a few sizes that give change maps with and without padding
// bits, with opaque, partly transparent and clear pixels.
// Usage: velt-fuzz-seed-frames <example dir> <out dir>; writes
// <out dir>/<name>/frame_N.png.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" {
#include "lodepng.h"
}

namespace {

struct Crop {
  const char* name;
  unsigned x, y, width, height, frames;
};

// the wheel turns about (64, 64); its rim lies between radius 47 and 58
const Crop kCrops[] = {
    {"block", 64, 64, 4, 4, 1},   // one block: one-byte change maps
    {"pane", 88, 60, 8, 8, 4},    // the partly transparent pane
    {"rim", 100, 56, 20, 12, 3},  // 15 blocks: one padding bit
    {"strip", 44, 60, 40, 8, 2},  // 20 blocks: four padding bits
    {"hub", 56, 56, 16, 16, 6},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s <example dir> <out dir>\n", argv[0]);
    return 2;
  }
  for (const Crop& crop : kCrops) {
    const std::string dir = std::string(argv[2]) + "/" + crop.name;
    mkdir(dir.c_str(), 0755);
    for (unsigned n = 0; n < crop.frames; ++n) {
      const std::string source = std::string(argv[1]) + "/frame_" + std::to_string(n) + ".png";
      unsigned char* pixels = nullptr;
      unsigned width = 0, height = 0;
      if (lodepng_decode32_file(&pixels, &width, &height, source.c_str()) != 0 ||
          crop.x + crop.width > width || crop.y + crop.height > height) {
        fprintf(stderr, "%s: cannot read a frame large enough\n", source.c_str());
        free(pixels);
        return 1;
      }
      unsigned char* part = static_cast<unsigned char*>(malloc(size_t{crop.width} * crop.height * 4));
      for (unsigned row = 0; row < crop.height; ++row)
        for (unsigned i = 0; i < crop.width * 4; ++i)
          part[row * crop.width * 4 + i] = pixels[((crop.y + row) * width + crop.x) * 4 + i];
      const std::string out = dir + "/frame_" + std::to_string(n) + ".png";
      const unsigned failure = lodepng_encode32_file(out.c_str(), part, crop.width, crop.height);
      free(part);
      free(pixels);
      if (failure != 0) {
        fprintf(stderr, "%s: %s\n", out.c_str(), lodepng_error_text(failure));
        return 1;
      }
    }
  }
  return 0;
}
