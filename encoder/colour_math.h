// Colour arithmetic shared by the block encoders: rounded mixes of 8-bit
// channels and squared distances between 8-bit RGB colours.
#ifndef VELT_COLOUR_MATH_H
#define VELT_COLOUR_MATH_H

#include <stdint.h>

// Channels are never negative: the helpers below divide unsigned, which
// gives the same quotients with cheaper code.

// 8-bit channel to 5 or 6 bits, rounded to nearest: defined as the integer
// part of v * 31 / 255 (or 63 / 255) plus 0.5, with the nearest double to the
// ratio. No 8-bit input lies on a tie, so each equals the integer form here.
static inline int quantize5(int v) { return (int)((unsigned)(62 * v + 255) / 510u); }
static inline int quantize6(int v) { return (int)((unsigned)(126 * v + 255) / 510u); }

// 8-bit R, G, B to RGB565 (red in the top five bits).
static inline uint16_t pack_rgb565(int r, int g, int b) {
  return (uint16_t)(quantize5(r) << 11 | quantize6(g) << 5 | quantize5(b));
}

// RGB565 back to 8-bit channels by bit replication.
static inline void unpack_rgb565(uint16_t c, uint8_t rgb[3]) {
  int r5 = c >> 11, g6 = (c >> 5) & 63, b5 = c & 31;
  rgb[0] = (uint8_t)(r5 << 3 | r5 >> 2);
  rgb[1] = (uint8_t)(g6 << 2 | g6 >> 4);
  rgb[2] = (uint8_t)(b5 << 3 | b5 >> 2);
}

// Rounded per-channel mixes, defined as the integer part of the mix plus 0.5
// in double precision. No 8-bit input lies on a tie, so each equals the
// integer form used here.
// (2a + b) / 3: two thirds a, one third b.
static inline int third(int a, int b) { return (int)((unsigned)(2 * a + b + 1) / 3u); }
// (a + b) / 2, halves rounded up.
static inline int half(int a, int b) { return (int)((unsigned)(a + b + 1) / 2u); }
// (a + b + c) / 3, the mean of three.
static inline int third3(int a, int b, int c) { return (int)((unsigned)(a + b + c + 1) / 3u); }

// Exact integer sum of the squared channel differences, at most 195075.
static inline int squared_distance3(int dr, int dg, int db) { return dr * dr + dg * dg + db * db; }

// Index assignment reads a palette's channels into locals once (pr, pg, pb:
// red, green and blue of each entry): read from the palette bytes, every
// stored index would make the compiler read them again, since a byte store
// may change any byte.
static inline void split_palette(const uint8_t* palette, int entries, int* pr, int* pg, int* pb) {
  for (int e = 0; e < entries; e++) {
    pr[e] = palette[3 * e];
    pg[e] = palette[3 * e + 1];
    pb[e] = palette[3 * e + 2];
  }
}

// The palette entry (0..entries-1) nearest to (r, g, b) by squared distance;
// a later entry wins only when strictly nearer, so ties go to the lowest.
static inline int nearest_entry(int r, int g, int b, const int* pr, const int* pg, const int* pb,
                                int entries) {
  int index = 0;
  int nearest = squared_distance3(r - pr[0], g - pg[0], b - pb[0]);
  for (int e = 1; e < entries; e++) {
    int d = squared_distance3(r - pr[e], g - pg[e], b - pb[e]);
    if (d < nearest) nearest = d, index = e;
  }
  return index;
}

#endif
