// Distances between 8-bit RGB colours, shared by the endpoint searches and
// the index choices.
#ifndef VELT_COLOUR_DISTANCE_H
#define VELT_COLOUR_DISTANCE_H

#include <math.h>
#include <stdint.h>

// Exact integer sum of the squared channel differences, at most 195075.
static inline int squared_distance(const uint8_t* a, const uint8_t* b) {
  int dr = a[0] - b[0], dg = a[1] - b[1], db = a[2] - b[2];
  return dr * dr + dg * dg + db * db;
}

// Euclidean distance: square root in double, rounded to single precision.
static inline float colour_distance(const uint8_t* a, const uint8_t* b) {
  return (float)sqrt((double)squared_distance(a, b));
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
