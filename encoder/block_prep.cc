// Block preparation: fetching a block, alpha classification, the transparent
// and uniform records, and the colour list for the endpoint searches.
#include "block_encoding.h"

#include <string.h>

// Alpha at or above which a pixel counts as visible in the alpha-aware modes.
enum { ALPHA_THRESHOLD_RECORD8 = 128, ALPHA_THRESHOLD_RECORD12 = 32 };

void fetch_block(BlockState* block, const uint8_t* pixels, uint32_t width, uint32_t x, uint32_t y) {
  for (uint32_t r = 0; r < 4; r++) {
    memcpy(block->block_rgba + 16 * r, pixels + 4 * ((size_t)(y + r) * width + x), 16);
  }
}

// all 16 pixels equal pixel 0 in R, G, B and A
static bool is_uniform(const uint8_t* rgba) {
  for (int i = 4; i < 64; i++) {
    if (rgba[i] != rgba[i % 4]) return false;
  }
  return true;
}

// Code byte of a uniform block in the alpha layout: two equal pixel codes,
// colour index 0 at alpha level 3, 1 or 0; level 2 is never used here.
static uint8_t uniform_alpha_code_byte(int alpha) {
  if (alpha >= 224) return 0x33;
  if (alpha >= 96) return 0x11;
  return 0x00;
}

// Writes the record of a block whose 16 pixels are all the same; returns its size.
static int write_uniform_record(const uint8_t* rgba, int mode, uint8_t* record) {
  uint16_t c = pack_rgb565(rgba[0], rgba[1], rgba[2]);
  uint8_t lo = (uint8_t)(c & 0xFF), hi = (uint8_t)(c >> 8);
  bool alpha_aware = (mode & VELT_MODE_ALPHA_AWARE) != 0;
  int size = VELT_RECORD_SIZE(mode);
  memset(record, 0, (size_t)size);
  record[0] = lo;
  record[1] = hi;
  if (alpha_aware) {
    // equal endpoints: three-colour mode, or the alpha layout
    record[2] = lo;
    record[3] = hi;
    if (size == VELT_RECORD12_SIZE) memset(record + 4, uniform_alpha_code_byte(rgba[3]), 8);
  }
  return size;
}

// Writes the record of a block with no pixel at or above the alpha threshold:
// zero endpoints and every pixel on the transparent index or code.
static int write_transparent_record(int mode, uint8_t* record) {
  memset(record, 0, 4);
  if (mode & VELT_MODE_RECORD12) {
    memset(record + 4, 0x44, 8);
    return VELT_RECORD12_SIZE;
  }
  memset(record + 4, 0xFF, 4);
  return VELT_RECORD8_SIZE;
}

BlockKind prepare_block(BlockState* block, int mode) {
  const uint8_t* rgba = block->block_rgba;
  bool alpha_aware = (mode & VELT_MODE_ALPHA_AWARE) != 0;

  block->has_transparency = false;
  if (alpha_aware) {
    int threshold =
        (mode & VELT_MODE_RECORD12) ? ALPHA_THRESHOLD_RECORD12 : ALPHA_THRESHOLD_RECORD8;
    int visible = 0;
    for (int i = 0; i < 16; i++) {
      block->alpha_flags[i] = rgba[4 * i + 3] >= threshold;
      visible += block->alpha_flags[i];
    }
    if (visible == 0) return BLOCK_TRANSPARENT;
    block->has_transparency = visible < 16;
  }

  if (is_uniform(rgba)) return BLOCK_UNIFORM;

  int count = 0;
  for (int i = 0; i < 16; i++) {
    if (alpha_aware && !block->alpha_flags[i]) continue;
    memcpy(block->colour_list + 3 * count, rgba + 4 * i, 3);
    count++;
  }
  block->colour_count = count;
  return BLOCK_COLOURS;
}

int encode_block(BlockState* block, const uint8_t* pixels, uint32_t width, uint32_t x, uint32_t y,
                 int mode, uint8_t* record) {
  fetch_block(block, pixels, width, x, y);
  switch (prepare_block(block, mode)) {
    case BLOCK_TRANSPARENT:
      return write_transparent_record(mode, record);
    case BLOCK_UNIFORM:
      return write_uniform_record(block->block_rgba, mode, record);
    case BLOCK_COLOURS:
      break;
  }
  if (mode & VELT_MODE_RECORD12) {
    encode_block12(block, mode, record);
    return VELT_RECORD12_SIZE;
  }
  encode_colour_block(block, mode, record);
  return VELT_RECORD8_SIZE;
}
