// Writes a PNG whose image data inflates to far more than its header allows,
// for testing and measuring how the decoders bound their work:
//
//   make-png-bomb OUT.png INFLATED_BYTES [WIDTHxHEIGHT] [interlaced]
//
// The header declares an 8-bit RGBA picture, 4x4 unless given. The image data
// is INFLATED_BYTES zeros (K, M and G suffixes multiply by 1024s), in about
// INFLATED_BYTES / 1032 bytes of file. 4G gives a file of about 4 MiB.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "png_bomb.h"

namespace {

// A byte count such as 4294967296, 64M or 4G; false if it is not one.
bool parse_size(const char* text, uint64_t* size) {
  char* end = nullptr;
  unsigned long long n = strtoull(text, &end, 10);
  if (end == text) return false;
  const char* suffixes = "KMG";
  if (*end != '\0') {
    const char* s = strchr(suffixes, *end);
    if (s == nullptr || end[1] != '\0') return false;
    n <<= 10 * (s - suffixes + 1);
  }
  *size = n;
  return n > 0;
}

}  // namespace

int main(int argc, char** argv) {
  PngBombHeader header;
  uint64_t inflated = 0;
  bool ok = argc >= 3 && argc <= 5 && parse_size(argv[2], &inflated);
  for (int i = 3; ok && i < argc; ++i) {
    if (strcmp(argv[i], "interlaced") == 0) {
      header.interlaced = true;
    } else {
      ok = sscanf(argv[i], "%ux%u", &header.width, &header.height) == 2 && header.width > 0 &&
           header.height > 0;
    }
  }
  if (!ok) {
    fprintf(stderr, "Usage: %s OUT.png INFLATED_BYTES [WIDTHxHEIGHT] [interlaced]\n", argv[0]);
    return 2;
  }
  std::vector<uint8_t> png = make_png_bomb(header, inflated);
  FILE* out = fopen(argv[1], "wb");
  if (out == nullptr || fwrite(png.data(), 1, png.size(), out) != png.size() || fclose(out) != 0) {
    fprintf(stderr, "make-png-bomb: cannot write %s\n", argv[1]);
    return 1;
  }
  printf("make-png-bomb: wrote %s, %zu bytes inflating to %llu\n", argv[1], png.size(),
         static_cast<unsigned long long>(inflated));
  return 0;
}
