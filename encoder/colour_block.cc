// The colour block encoder: exhaustive endpoint pair search, palette, per-pixel
// indices and the 8-byte block record.
#include "block_encoding.h"

#include "colour_math.h"

// Pixels below this alpha take the transparent index in three-colour mode.
enum { TRANSPARENT_BELOW = 128 };

// e, f, third(e, f), third(f, e), channel by channel.
static void thirds_palette(const uint8_t* e, const uint8_t* f, uint8_t palette[12]) {
  for (int ch = 0; ch < 3; ch++) {
    palette[ch] = e[ch];
    palette[3 + ch] = f[ch];
    palette[6 + ch] = (uint8_t)third(e[ch], f[ch]);
    palette[9 + ch] = (uint8_t)third(f[ch], e[ch]);
  }
}

void build_block_palette(uint16_t c0, uint16_t c1, bool three_colour, uint8_t palette[12]) {
  uint8_t p0[3], p1[3];
  unpack_rgb565(c0, p0);
  unpack_rgb565(c1, p1);
  if (!three_colour) {
    thirds_palette(p0, p1, palette);
    return;
  }
  for (int ch = 0; ch < 3; ch++) {
    palette[ch] = p0[ch];
    palette[3 + ch] = p1[ch];
    palette[6 + ch] = (uint8_t)half(p0[ch], p1[ch]);
    palette[9 + ch] = 0;
  }
}

void assign_indices(const uint8_t block_rgba[64], const uint8_t palette[12], bool three_colour,
                    uint8_t indices[16]) {
  int pr[4], pg[4], pb[4];
  split_palette(palette, 4, pr, pg, pb);
  for (int i = 0; i < 16; i++) {
    if (i > 0 && repeats_previous_pixel(block_rgba, i)) {
      indices[i] = indices[i - 1];
      continue;
    }
    const uint8_t* pixel = block_rgba + 4 * i;
    int index;
    if (!three_colour) {
      index = nearest_entry(pixel[0], pixel[1], pixel[2], pr, pg, pb, 4);
    } else if (pixel[3] < TRANSPARENT_BELOW) {
      index = 3;
    } else {
      index = nearest_entry(pixel[0], pixel[1], pixel[2], pr, pg, pb, 3);
    }
    indices[i] = (uint8_t)index;
  }
}

void pack_block_record(uint16_t c0, uint16_t c1, const uint8_t indices[16], uint8_t record[8]) {
  record[0] = (uint8_t)(c0 & 0xFF);
  record[1] = (uint8_t)(c0 >> 8);
  record[2] = (uint8_t)(c1 & 0xFF);
  record[3] = (uint8_t)(c1 >> 8);
  for (int r = 0; r < 4; r++) {
    const uint8_t* row = indices + 4 * r;
    record[4 + r] = (uint8_t)(row[0] << 6 | row[1] << 4 | row[2] << 2 | row[3]);
  }
}

bool order_endpoints(const BlockState* block, int mode, int alpha_bound, uint16_t e, uint16_t f,
                     uint16_t* c0, uint16_t* c1) {
  bool smaller_first = false;
  if (mode & VELT_MODE_ALPHA_AWARE) {
    smaller_first = e == f;
    for (int i = 0; i < 16 && !smaller_first; i++)
      smaller_first = block->block_rgba[4 * i + 3] < alpha_bound;
  }
  uint16_t larger = e > f ? e : f, smaller = e > f ? f : e;
  *c0 = smaller_first ? smaller : larger;
  *c1 = smaller_first ? larger : smaller;
  return smaller_first;
}

void encode_colour_block(const BlockState* block, int mode, uint8_t record[8]) {
  uint16_t e = 0, f = 0;
  find_endpoints(block->colour_list, block->colour_count, &e, &f);

  // three-colour mode for equal endpoints or a block with transparent pixels
  uint16_t c0, c1;
  bool three_colour = order_endpoints(block, mode, TRANSPARENT_BELOW, e, f, &c0, &c1);

  uint8_t palette[12];
  uint8_t indices[16];
  build_block_palette(c0, c1, three_colour, palette);
  assign_indices(block->block_rgba, palette, three_colour, indices);
  pack_block_record(c0, c1, indices, record);
}
