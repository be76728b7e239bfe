#include "change_map.h"

int32_t block_difference(const uint8_t* current, const uint8_t* previous, uint32_t width,
                         uint32_t x, uint32_t y) {
  int32_t sum = 0;
  for (uint32_t r = 0; r < 4; r++) {
    uint32_t offset = ((y + r) * width + x) * 4;
    for (uint32_t i = 0; i < 16; i++) {
      int32_t d = static_cast<int32_t>(current[offset + i]) - previous[offset + i];
      sum += d < 0 ? -d : d;
    }
  }
  return sum;
}

void detect_changes(const uint8_t* current, const uint8_t* previous, uint32_t width,
                    uint32_t height, uint8_t* change_flags) {
  uint32_t blocks_across = width / 4;
  for (uint32_t y = 0; y < height; y += 4)
    for (uint32_t x = 0; x < width; x += 4)
      change_flags[(y / 4) * blocks_across + x / 4] =
          block_difference(current, previous, width, x, y) > 0 ? 1 : 0;
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
