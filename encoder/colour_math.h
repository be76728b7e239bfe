// Colour arithmetic shared by the block encoders: rounded mixes of 8-bit
// channels and squared distances between 8-bit RGB colours.
#ifndef VELT_COLOUR_MATH_H
#define VELT_COLOUR_MATH_H

#include <stdint.h>

// 8-bit channel to 5 or 6 bits, rounded to nearest: defined as the integer
// part of v * 31 / 255 (or 63 / 255) plus 0.5, with the nearest double to the
// ratio. No 8-bit input lies on a tie, so each equals the integer form here.
static inline int quantize5(int v) { return (62 * v + 255) / 510; }
static inline int quantize6(int v) { return (126 * v + 255) / 510; }

// 8-bit R, G, B to RGB565 (red in the top five bits).
static inline uint16_t pack_rgb565(int r, int g, int b) {
  return (uint16_t)(quantize5(r) << 11 | quantize6(g) << 5 | quantize5(b));
}

// Rounded per-channel mixes, defined as the integer part of the mix plus 0.5
// in double precision. No 8-bit input lies on a tie, so each equals the
// integer form used here.
// (2a + b) / 3: two thirds a, one third b.
static inline int third(int a, int b) { return (2 * a + b + 1) / 3; }
// (a + b) / 2, halves rounded up.
static inline int half(int a, int b) { return (a + b + 1) / 2; }
// (a + b + c) / 3, the mean of three.
static inline int third3(int a, int b, int c) { return (a + b + c + 1) / 3; }

// Exact integer sum of the squared channel differences, at most 195075.
static inline int squared_distance(const uint8_t* a, const uint8_t* b) {
  int dr = a[0] - b[0], dg = a[1] - b[1], db = a[2] - b[2];
  return dr * dr + dg * dg + db * db;
}

// The palette entry (0..entries-1) nearest to `pixel` by squared distance;
// a later entry wins only when strictly nearer, so ties go to the lowest.
static inline int nearest_entry(const uint8_t* pixel, const uint8_t* palette, int entries) {
  int best = 0;
  int best_distance = squared_distance(pixel, palette);
  for (int p = 1; p < entries; p++) {
    int d = squared_distance(pixel, palette + 3 * p);
    if (d < best_distance) {
      best_distance = d;
      best = p;
    }
  }
  return best;
}

#endif
