#include "index_oracle.h"

#include <cstdlib>

int oracle_nearest_entry(const uint8_t* pixel, const uint8_t* palette, int entries) {
  int best = 0, best_distance = 0;
  for (int p = 0; p < entries; p++) {
    const uint8_t* entry = palette + 3 * p;
    int distance = 0;
    for (int ch = 0; ch < 3; ch++) distance += (pixel[ch] - entry[ch]) * (pixel[ch] - entry[ch]);
    if (p == 0 || distance < best_distance) {
      best = p;
      best_distance = distance;
    }
  }
  return best;
}

void oracle_assign_indices(const uint8_t block_rgba[64], const uint8_t palette[12],
                           bool three_colour, uint8_t indices[16]) {
  for (int i = 0; i < 16; i++) {
    const uint8_t* pixel = block_rgba + 4 * i;
    if (three_colour && pixel[3] < 128) {
      indices[i] = 3;
    } else {
      indices[i] = uint8_t(oracle_nearest_entry(pixel, palette, three_colour ? 3 : 4));
    }
  }
}

void oracle_assign_indices12(const uint8_t block_rgba[64], const uint8_t palette[24],
                             uint8_t indices[16]) {
  for (int i = 0; i < 16; i++) {
    indices[i] = uint8_t(oracle_nearest_entry(block_rgba + 4 * i, palette, 8));
  }
}

void oracle_assign_pixel_codes(const uint8_t block_rgba[64], const uint8_t palette[24],
                               uint8_t codes[16]) {
  // alpha of levels 0..3: colour index 1 has its own row
  static const int kLevels[2][4] = {{64, 128, 192, 255}, {0, 85, 170, 255}};
  for (int i = 0; i < 16; i++) {
    const uint8_t* pixel = block_rgba + 4 * i;
    const int alpha = pixel[3];
    if (alpha <= 32) {
      codes[i] = 4;
      continue;
    }
    const int colour = oracle_nearest_entry(pixel, palette, 4);
    const int* row = kLevels[colour == 1 ? 1 : 0];
    int level = 0;
    for (int l = 1; l < 4; l++) {
      if (std::abs(alpha - row[l]) < std::abs(alpha - row[level])) level = l;
    }
    codes[i] = uint8_t(colour * 4 + level);
  }
}
