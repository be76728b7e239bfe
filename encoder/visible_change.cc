#include "visible_change.h"

#include <string.h>

namespace {

int difference(int a, int b) { return a > b ? a - b : b - a; }

// Whether two RGBA pixels look more than `tolerance` levels apart in some
// channel. Alpha-aware differences are kept in units of 1/255 of a level
// (c * a over black, (255 - c) * a for the distance from white), so nothing
// is rounded before the comparison.
bool pixel_differs(const uint8_t* now, const uint8_t* then, bool alpha_aware, int tolerance) {
  if (!alpha_aware) {
    return difference(now[0], then[0]) > tolerance || difference(now[1], then[1]) > tolerance ||
           difference(now[2], then[2]) > tolerance;
  }
  int limit = tolerance * 255;
  int alpha_now = now[3];
  int alpha_then = then[3];
  for (int c = 0; c < 3; c++) {
    if (difference(now[c] * alpha_now, then[c] * alpha_then) > limit) return true;
    if (difference((255 - now[c]) * alpha_now, (255 - then[c]) * alpha_then) > limit) return true;
  }
  return false;
}

// Whether some pixel of the block at (x, y) looks different.
bool block_differs(const uint8_t* current, const uint8_t* reference, uint32_t width, uint32_t x,
                   uint32_t y, bool alpha_aware, int tolerance) {
  for (uint32_t r = 0; r < 4; r++) {
    size_t offset = ((size_t)(y + r) * width + x) * 4;
    const uint8_t* now = current + offset;
    const uint8_t* then = reference + offset;
    if (memcmp(now, then, 16) == 0) continue;
    for (int i = 0; i < 16; i += 4) {
      if (pixel_differs(now + i, then + i, alpha_aware, tolerance)) return true;
    }
  }
  return false;
}

}  // namespace

void detect_visible_changes(const uint8_t* current, const uint8_t* reference, uint32_t width,
                            uint32_t height, bool alpha_aware, int32_t tolerance,
                            uint8_t* change_flags) {
  uint32_t blocks_across = width / 4;
  for (uint32_t y = 0; y < height; y += 4) {
    for (uint32_t x = 0; x < width; x += 4) {
      change_flags[(y / 4) * blocks_across + x / 4] =
          block_differs(current, reference, width, x, y, alpha_aware, tolerance) ? 1 : 0;
    }
  }
}

void update_references(const uint8_t* current, uint8_t* reference, uint32_t width,
                       uint32_t height, const uint8_t* change_flags) {
  uint32_t blocks_across = width / 4;
  for (uint32_t y = 0; y < height; y++) {
    const uint8_t* flags = change_flags + (y / 4) * blocks_across;
    size_t row = (size_t)y * width * 4;
    for (uint32_t bx = 0; bx < blocks_across; bx++) {
      if (flags[bx] != 0) memcpy(reference + row + 16 * bx, current + row + 16 * bx, 16);
    }
  }
}
