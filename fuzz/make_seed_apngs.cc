// Writes the seeds of the animated PNG fuzzer, kept in fuzz/seeds/apng/: tiny
// animations (under 2 KB each) with every dispose and blend operation, regions
// at offsets, a default image outside the animation, a palette with tRNS,
// 16-bit interlaced frames and grey with alpha.
// Usage: velt-fuzz-seed-apngs <dir>
#include <cstdio>
#include <string>
#include <vector>

#include "apng_writer.h"

namespace {

// A width x height picture of varied colours, grey when `grey`, with some
// translucent and transparent pixels when `alpha`; `colours` above 0 keeps
// it to that many distinct levels, for a palette.
ApngPicture picture(uint32_t width, uint32_t height, unsigned seed, bool grey, bool alpha,
                    unsigned colours = 0) {
  ApngPicture p{width, height, {}};
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      unsigned v = x * 37 + y * 91 + seed * 53;
      if (colours > 0) v = v % colours * (256 / colours);
      const uint8_t level = uint8_t(v);
      const uint8_t a = !alpha ? 255 : (x + y + seed) % 3 == 0 ? 0 : uint8_t(64 + level / 2);
      p.rgba.insert(p.rgba.end(), {level, grey ? level : uint8_t(level * 3),
                                   grey ? level : uint8_t(255 - level), a});
    }
  return p;
}

ApngFrameSpec frame(ApngPicture p, uint32_t x, uint32_t y, uint8_t dispose, uint8_t blend,
                    uint16_t den = 10) {
  return {p, x, y, 1, den, dispose, blend};
}

bool write(const std::string& path, const std::vector<ApngChunk>& chunks) {
  if (chunks.empty()) {
    fprintf(stderr, "velt-fuzz-seed-apngs: cannot encode %s\n", path.c_str());
    return false;
  }
  const std::vector<uint8_t> file = apng_file(chunks);
  FILE* out = fopen(path.c_str(), "wb");
  bool written = out != nullptr && fwrite(file.data(), 1, file.size(), out) == file.size();
  if (out != nullptr && fclose(out) != 0) written = false;
  if (!written) fprintf(stderr, "velt-fuzz-seed-apngs: cannot write %s\n", path.c_str());
  return written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: velt-fuzz-seed-apngs <dir>\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  const ApngFormat rgba8, palette{3, 8}, deep_interlaced{6, 16, true}, grey_alpha{4, 8};
  const ApngPicture background = picture(6, 6, 9, false, true, 8);
  bool ok = write(dir + "operations.png",
                  apng_chunks(8, 8, rgba8,
                              {frame(picture(8, 8, 0, false, true), 0, 0, 0, 0),
                               frame(picture(4, 4, 1, false, true), 2, 2, 1, 1),
                               frame(picture(3, 5, 2, false, true), 5, 3, 2, 0, 0),
                               frame(picture(8, 2, 3, false, true), 0, 6, 0, 1)}));
  ok &= write(dir + "default_image_palette.png",
              apng_chunks(6, 6, palette,
                          {frame(picture(6, 6, 4, false, true, 8), 0, 0, 2, 0),
                           frame(picture(3, 3, 5, false, true, 8), 1, 1, 2, 1),
                           frame(picture(2, 4, 6, false, true, 8), 4, 2, 1, 1)},
                          &background));
  ok &= write(dir + "deep_interlaced.png",
              apng_chunks(9, 7, deep_interlaced,
                          {frame(picture(9, 7, 7, false, true), 0, 0, 1, 0),
                           frame(picture(5, 6, 8, false, true), 3, 1, 0, 1)}));
  ok &= write(dir + "grey_alpha.png",
              apng_chunks(5, 5, grey_alpha,
                          {frame(picture(5, 5, 10, true, true), 0, 0, 0, 0),
                           frame(picture(2, 3, 11, true, true), 3, 2, 2, 1),
                           frame(picture(5, 1, 12, true, true), 0, 4, 0, 0)}));
  return ok ? 0 : 1;
}
