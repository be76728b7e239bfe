#include "frame_padding.h"

#include <stdlib.h>
#include <string.h>

#include "frame_file.h"

bool pad_to_blocks(unsigned char** pixels, unsigned* width, unsigned* height, bool transparent) {
  const unsigned old_width = *width, old_height = *height;
  const unsigned new_width = padded_side(old_width), new_height = padded_side(old_height);
  if (new_width == old_width && new_height == old_height) return true;
  unsigned char* padded = static_cast<unsigned char*>(malloc(size_t(new_width) * new_height * 4));
  if (padded == nullptr) return false;
  const size_t old_row = size_t(old_width) * 4, new_row = size_t(new_width) * 4;
  for (unsigned y = 0; y < new_height; y++) {
    unsigned char* row = padded + y * new_row;
    if (y >= old_height && transparent) {
      memset(row, 0, new_row);
      continue;
    }
    // rows past the picture repeat its last row
    const unsigned char* source = *pixels + (y < old_height ? y : old_height - 1) * old_row;
    memcpy(row, source, old_row);
    for (unsigned x = old_width; x < new_width; x++) {
      if (transparent) {
        memset(row + x * 4, 0, 4);
      } else {
        memcpy(row + x * 4, source + (old_width - 1) * 4, 4);
      }
    }
  }
  free(*pixels);
  *pixels = padded;
  *width = new_width;
  *height = new_height;
  return true;
}
