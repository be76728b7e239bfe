#include "reference_search.h"

#include <math.h>
#include <stdlib.h>

// Channel helpers in their integer forms, which equal the double-precision
// formulas of the encoder for all 8-bit inputs; the oracle shares no code with
// the encoder.
namespace {

int ref_quantize5(int v) { return (62 * v + 255) / 510; }
int ref_quantize6(int v) { return (126 * v + 255) / 510; }

uint16_t ref_pack(const uint8_t* c) {
  return (uint16_t)(ref_quantize5(c[0]) << 11 | ref_quantize6(c[1]) << 5 | ref_quantize5(c[2]));
}

void ref_unpack(uint16_t c, int rgb[3]) {
  int r5 = c >> 11, g6 = (c >> 5) & 63, b5 = c & 31;
  rgb[0] = (r5 << 3) | (r5 >> 2);
  rgb[1] = (g6 << 2) | (g6 >> 4);
  rgb[2] = (b5 << 3) | (b5 >> 2);
}

int ref_third(int a, int b) { return (2 * a + b + 1) / 3; }
int ref_half(int a, int b) { return (a + b + 1) / 2; }

int ref_squared(const int a[3], const uint8_t* b) {
  int dr = a[0] - b[0], dg = a[1] - b[1], db = a[2] - b[2];
  return dr * dr + dg * dg + db * db;
}

}  // namespace

void reference_find_endpoints(const uint8_t* colour_list, int colour_count, uint16_t* e,
                              uint16_t* f) {
  float best_error = 100000.0f;
  for (int i = 0; i < colour_count; i++) {
    for (int j = 0; j < colour_count; j++) {
      uint16_t ce = ref_pack(colour_list + 3 * i);
      uint16_t cf = ref_pack(colour_list + 3 * j);
      int pe[3], pf[3], candidates[4][3];
      ref_unpack(ce, pe);
      ref_unpack(cf, pf);
      for (int ch = 0; ch < 3; ch++) {
        candidates[0][ch] = pe[ch];
        candidates[1][ch] = pf[ch];
        candidates[2][ch] = ref_third(pe[ch], pf[ch]);
        candidates[3][ch] = ref_third(pf[ch], pe[ch]);
      }
      float error = 0.0f;
      for (int k = 0; k < colour_count; k++) {
        float d[4];
        for (int p = 0; p < 4; p++) {
          d[p] = (float)sqrt((double)ref_squared(candidates[p], colour_list + 3 * k));
        }
        float nearest = d[0];
        for (int p = 1; p < 4; p++) nearest = d[p] < nearest ? d[p] : nearest;
        error = error + nearest;
      }
      if (best_error > error) {
        best_error = error;
        *e = ce;
        *f = cf;
      }
    }
  }
}

void reference_encode_colour_block(const uint8_t block_rgba[64], const uint8_t* colour_list,
                                   int colour_count, int mode, uint8_t record[8]) {
  uint16_t e = 0, f = 0;
  reference_find_endpoints(colour_list, colour_count, &e, &f);

  bool any_below_128 = false;
  for (int i = 0; i < 16; i++) any_below_128 |= block_rgba[4 * i + 3] < 128;
  bool three_colour = mode == 1 && (e == f || any_below_128);
  uint16_t c0, c1;
  if (three_colour) {
    c0 = e < f ? e : f;
    c1 = e < f ? f : e;
  } else {
    c0 = e > f ? e : f;
    c1 = e > f ? f : e;
  }

  int p0[3], p1[3], palette[4][3];
  ref_unpack(c0, p0);
  ref_unpack(c1, p1);
  for (int ch = 0; ch < 3; ch++) {
    palette[0][ch] = p0[ch];
    palette[1][ch] = p1[ch];
    palette[2][ch] = three_colour ? ref_half(p0[ch], p1[ch]) : ref_third(p0[ch], p1[ch]);
    palette[3][ch] = three_colour ? 0 : ref_third(p1[ch], p0[ch]);
  }

  int idx[16];
  for (int i = 0; i < 16; i++) {
    const uint8_t* pixel = block_rgba + 4 * i;
    int n = three_colour ? 3 : 4;
    idx[i] = 0;
    for (int p = 1; p < n; p++) {
      if (ref_squared(palette[p], pixel) < ref_squared(palette[idx[i]], pixel)) idx[i] = p;
    }
    if (three_colour && pixel[3] < 128) idx[i] = 3;
  }

  record[0] = (uint8_t)(c0 & 0xFF);
  record[1] = (uint8_t)(c0 >> 8);
  record[2] = (uint8_t)(c1 & 0xFF);
  record[3] = (uint8_t)(c1 >> 8);
  for (int r = 0; r < 4; r++) {
    record[4 + r] = (uint8_t)(idx[4 * r] << 6 | idx[4 * r + 1] << 4 | idx[4 * r + 2] << 2 |
                              idx[4 * r + 3]);
  }
}

namespace {

int ref_third3(int a, int b, int c) { return (a + b + c + 1) / 3; }

// The eight entries of the palette of three RGB565 colours, in index order.
void ref_extended_palette(uint16_t c0, uint16_t c1, uint16_t c2, int entries[8][3]) {
  int p0[3], p1[3], p2[3];
  ref_unpack(c0, p0);
  ref_unpack(c1, p1);
  ref_unpack(c2, p2);
  for (int ch = 0; ch < 3; ch++) {
    entries[0][ch] = p0[ch];
    entries[1][ch] = p1[ch];
    entries[2][ch] = ref_third(p0[ch], p1[ch]);
    entries[3][ch] = ref_third(p1[ch], p0[ch]);
    entries[4][ch] = p2[ch];
    entries[5][ch] = ref_third3(p0[ch], p1[ch], p2[ch]);
    entries[6][ch] = ref_half(p0[ch], p2[ch]);
    entries[7][ch] = ref_half(p1[ch], p2[ch]);
  }
}

// First entry of 0..n-1 with the smallest squared distance to the pixel.
int ref_nearest(const int entries[][3], int n, const uint8_t* pixel) {
  int best = 0;
  for (int p = 1; p < n; p++) {
    if (ref_squared(entries[p], pixel) < ref_squared(entries[best], pixel)) best = p;
  }
  return best;
}

}  // namespace

void reference_find_endpoint_triple(const uint8_t* colour_list, int colour_count, uint16_t* e,
                                    uint16_t* f, uint16_t* g) {
  float best_error = 100000.0f;
  for (int i = 0; i <= colour_count - 2; i++) {
    for (int j = i + 1; j <= colour_count - 1; j++) {
      for (int k = 0; k <= colour_count - 1; k++) {
        uint16_t ce = ref_pack(colour_list + 3 * i);
        uint16_t cf = ref_pack(colour_list + 3 * j);
        uint16_t cg = ref_pack(colour_list + 3 * k);
        int candidates[8][3];
        ref_extended_palette(ce, cf, cg, candidates);
        float error = 0.0f;
        for (int m = 0; m < colour_count; m++) {
          float d[8];
          for (int p = 0; p < 8; p++) {
            d[p] = (float)sqrt((double)ref_squared(candidates[p], colour_list + 3 * m));
          }
          float nearest = d[0];
          for (int p = 1; p < 8; p++) nearest = d[p] < nearest ? d[p] : nearest;
          error = error + nearest;
        }
        if (best_error > error && (ce != cf || cg == ce)) {
          best_error = error;
          *e = ce;
          *f = cf;
          *g = cg;
        }
      }
    }
  }
}

void reference_encode_block12(const uint8_t block_rgba[64], const uint8_t* colour_list,
                              int colour_count, int mode, uint8_t record[12], uint16_t found[3]) {
  bool any_below_32 = false, any_below_224 = false;
  for (int i = 0; i < 16; i++) {
    any_below_32 |= block_rgba[4 * i + 3] < 32;
    any_below_224 |= block_rgba[4 * i + 3] < 224;
  }
  bool has_transparency = mode == 3 && any_below_32;

  uint16_t e = 0, f = 0, g = 0;
  if (has_transparency) {
    reference_find_endpoints(colour_list, colour_count, &e, &f);
  } else {
    reference_find_endpoint_triple(colour_list, colour_count, &e, &f, &g);
  }
  if (found) found[0] = e, found[1] = f, found[2] = g;

  bool alpha_layout = mode == 3 && (e == f || any_below_224);
  uint16_t c0, c1, c2 = 0;
  if (alpha_layout) {
    c0 = e < f ? e : f;
    c1 = e < f ? f : e;
  } else {
    c0 = e > f ? e : f;
    c1 = e > f ? f : e;
    c2 = g;
  }

  int palette[8][3];
  ref_extended_palette(c0, c1, c2, palette);

  record[0] = (uint8_t)(c0 & 0xFF);
  record[1] = (uint8_t)(c0 >> 8);
  record[2] = (uint8_t)(c1 & 0xFF);
  record[3] = (uint8_t)(c1 >> 8);

  if (alpha_layout) {
    // alpha values of levels 0..3; colour index 1 has its own row
    const int levels[2][4] = {{64, 128, 192, 255}, {0, 85, 170, 255}};
    int codes[16];
    for (int i = 0; i < 16; i++) {
      const uint8_t* pixel = block_rgba + 4 * i;
      int alpha = pixel[3];
      if (alpha <= 32) {
        codes[i] = 4;
        continue;
      }
      int colour = ref_nearest(palette, 4, pixel);
      const int* row = levels[colour == 1 ? 1 : 0];
      int level = 0;
      for (int l = 1; l < 4; l++) {
        if (abs(alpha - row[l]) < abs(alpha - row[level])) level = l;
      }
      codes[i] = colour * 4 + level;
    }
    for (int m = 0; m < 8; m++) record[4 + m] = (uint8_t)(codes[2 * m] << 4 | codes[2 * m + 1]);
    return;
  }

  record[4] = (uint8_t)(c2 & 0xFF);
  record[5] = (uint8_t)(c2 >> 8);
  int idx[16];
  for (int i = 0; i < 16; i++) idx[i] = ref_nearest(palette, 8, block_rgba + 4 * i);
  // eight indices in three bytes, the first in the top bits
  for (int h = 0; h < 2; h++) {
    const int* x = idx + 8 * h;
    record[6 + 3 * h] = (uint8_t)(x[0] << 5 | x[1] << 2 | x[2] >> 1);
    record[7 + 3 * h] = (uint8_t)((x[2] & 1) << 7 | x[3] << 4 | x[4] << 1 | x[5] >> 2);
    record[8 + 3 * h] = (uint8_t)((x[5] & 3) << 6 | x[6] << 3 | x[7]);
  }
}
