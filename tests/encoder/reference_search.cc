#include "reference_search.h"

#include <math.h>

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
