// The twelve-byte block encoder: a search over triples of the block's colours
// (or the pair search for blocks with transparent pixels), the eight-colour
// palette, and the record in the alpha layout or the three-endpoint layout.
#include "block_encoding.h"

#include "colour_math.h"

// Pixels at or below this alpha take the transparent code in the alpha layout.
enum { TRANSPARENT_CODE_AT_MOST = 32, TRANSPARENT_CODE = 4 };
// A block with any pixel below this alpha takes the alpha layout.
enum { OPAQUE_LAYOUT_FROM = 224 };

// Alpha values of the four levels: colour index 1 has its own row.
static const uint8_t ALPHA_LEVELS_INDEX1[4] = {0, 85, 170, 255};
static const uint8_t ALPHA_LEVELS_OTHER[4] = {64, 128, 192, 255};

void build_extended_palette(uint16_t c0, uint16_t c1, uint16_t c2, uint8_t palette[24]) {
  uint8_t p0[3], p1[3], p2[3];
  unpack_rgb565(c0, p0);
  unpack_rgb565(c1, p1);
  unpack_rgb565(c2, p2);
  for (int ch = 0; ch < 3; ch++) {
    palette[ch] = p0[ch];
    palette[3 + ch] = p1[ch];
    palette[6 + ch] = (uint8_t)third(p0[ch], p1[ch]);
    palette[9 + ch] = (uint8_t)third(p1[ch], p0[ch]);
    palette[12 + ch] = p2[ch];
    palette[15 + ch] = (uint8_t)third3(p0[ch], p1[ch], p2[ch]);
    palette[18 + ch] = (uint8_t)half(p0[ch], p2[ch]);
    palette[21 + ch] = (uint8_t)half(p1[ch], p2[ch]);
  }
}

void assign_pixel_codes(const uint8_t block_rgba[64], const uint8_t palette[24], uint8_t codes[16]) {
  int pr[4], pg[4], pb[4];
  split_palette(palette, 4, pr, pg, pb);
  for (int i = 0; i < 16; i++) {
    if (i > 0 && repeats_previous_pixel(block_rgba, i)) {
      codes[i] = codes[i - 1];
      continue;
    }
    const uint8_t* pixel = block_rgba + 4 * i;
    int alpha = pixel[3];
    if (alpha <= TRANSPARENT_CODE_AT_MOST) {
      codes[i] = TRANSPARENT_CODE;
      continue;
    }
    int index = nearest_entry(pixel[0], pixel[1], pixel[2], pr, pg, pb, 4);
    const uint8_t* levels = index == 1 ? ALPHA_LEVELS_INDEX1 : ALPHA_LEVELS_OTHER;
    int level = 0;
    int level_distance = alpha > levels[0] ? alpha - levels[0] : levels[0] - alpha;
    for (int l = 1; l < 4; l++) {
      int d = alpha > levels[l] ? alpha - levels[l] : levels[l] - alpha;
      if (d < level_distance) {
        level_distance = d;
        level = l;
      }
    }
    codes[i] = (uint8_t)(index * 4 + level);
  }
}

void assign_indices12(const uint8_t block_rgba[64], const uint8_t palette[24], uint8_t indices[16]) {
  int pr[8], pg[8], pb[8];
  split_palette(palette, 8, pr, pg, pb);
  for (int i = 0; i < 16; i++) {
    if (i > 0 && repeats_previous_pixel(block_rgba, i)) {
      indices[i] = indices[i - 1];
      continue;
    }
    const uint8_t* pixel = block_rgba + 4 * i;
    indices[i] = (uint8_t)nearest_entry(pixel[0], pixel[1], pixel[2], pr, pg, pb, 8);
  }
}

void pack_block_record12(uint16_t c0, uint16_t c1, uint16_t c2, bool alpha_layout,
                         const uint8_t values[16], uint8_t record[12]) {
  record[0] = (uint8_t)(c0 & 0xFF);
  record[1] = (uint8_t)(c0 >> 8);
  record[2] = (uint8_t)(c1 & 0xFF);
  record[3] = (uint8_t)(c1 >> 8);
  if (alpha_layout) {
    for (int m = 0; m < 8; m++) record[4 + m] = (uint8_t)(values[2 * m] << 4 | values[2 * m + 1]);
    return;
  }
  record[4] = (uint8_t)(c2 & 0xFF);
  record[5] = (uint8_t)(c2 >> 8);
  // sixteen 3-bit indices as one 48-bit string, pixel 0 in the top bits
  uint64_t bits = 0;
  for (int i = 0; i < 16; i++) bits = bits << 3 | (values[i] & 7);
  for (int b = 0; b < 6; b++) record[6 + b] = (uint8_t)(bits >> (40 - 8 * b));
}

void encode_block12(const BlockState* block, int mode, uint8_t record[12]) {
  uint16_t e = 0, f = 0, g = 0;
  if (block->has_transparency) {
    find_endpoints(block->colour_list, block->colour_count, &e, &f);
  } else {
    find_endpoint_triple(block->colour_list, block->colour_count, &e, &f, &g);
  }

  // the alpha layout for equal endpoints or a block with a pixel below the
  // opaque bound
  uint16_t c0, c1;
  bool alpha_layout = order_endpoints(block, mode, OPAQUE_LAYOUT_FROM, e, f, &c0, &c1);

  uint8_t palette[24];
  uint8_t values[16];
  build_extended_palette(c0, c1, g, palette);
  if (alpha_layout) {
    assign_pixel_codes(block->block_rgba, palette, values);
  } else {
    assign_indices12(block->block_rgba, palette, values);
  }
  pack_block_record12(c0, c1, g, alpha_layout, values, record);
}
