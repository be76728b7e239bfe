#include "change_map.h"

#include <string.h>

namespace {

// Whether n bytes, a multiple of 8, are equal; read eight at a time.
bool same_bytes(const uint8_t* a, const uint8_t* b, uint32_t n) {
  for (uint32_t i = 0; i < n; i += 8) {
    uint64_t x, y;
    memcpy(&x, a + i, 8);
    memcpy(&y, b + i, 8);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

// A block is changed as soon as one of its 64 bytes differs. Each pixel row
// is compared whole first: an unchanged row clears all its blocks at once,
// and in a changed one each block's 16 bytes are compared only until the
// block is known to be changed.
void detect_changes(const uint8_t* current, const uint8_t* previous, uint32_t width,
                    uint32_t height, uint8_t* change_flags) {
  uint32_t blocks_across = width / 4;
  uint32_t row_bytes = width * 4;
  memset(change_flags, 0, (height / 4) * blocks_across);
  for (uint32_t y = 0; y < height; y++) {
    size_t offset = (size_t)y * row_bytes;
    const uint8_t* now = current + offset;
    const uint8_t* before = previous + offset;
    if (same_bytes(now, before, row_bytes)) continue;
    uint8_t* flags = change_flags + (y / 4) * blocks_across;
    for (uint32_t bx = 0; bx < blocks_across; bx++) {
      if (flags[bx] == 0 && !same_bytes(now + 16 * bx, before + 16 * bx, 16)) flags[bx] = 1;
    }
  }
}

uint32_t pack_change_map(const uint8_t* change_flags, uint32_t block_count, uint8_t* map) {
  uint32_t size = 0;
  uint32_t bits = 0;
  uint8_t accumulator = 0;
  for (uint32_t k = 0; k < block_count; k++) {
    accumulator = static_cast<uint8_t>((accumulator << 1) | (change_flags[k] & 1));
    if (++bits == 8) {
      map[size++] = accumulator;
      accumulator = 0;
      bits = 0;
    }
  }
  if (bits > 0) map[size++] = static_cast<uint8_t>(accumulator << (8 - bits));
  return size;
}
