#include "block_bench_core.h"

#include <string.h>

#include "reference_search.h"

// the encoder's alpha thresholds (block_prep.cc): visible from 128 in the
// 8-byte records, from 32 in the 12-byte ones
enum { VISIBLE_FROM_RECORD8 = 128, VISIBLE_FROM_RECORD12 = 32 };

static bool all_pixels_equal(const uint8_t* rgba) {
  for (int i = 4; i < 64; i++) {
    if (rgba[i] != rgba[i % 4]) return false;
  }
  return true;
}

int bench_record_size(int mode) { return (mode & MODE_RECORD12) ? RECORD12_SIZE : RECORD8_SIZE; }

int prepare_blocks(const uint8_t* rgba_blocks, int count, int mode, BlockState* prepared) {
  bool alpha_aware = (mode & MODE_ALPHA_AWARE) != 0;
  int visible_from = (mode & MODE_RECORD12) ? VISIBLE_FROM_RECORD12 : VISIBLE_FROM_RECORD8;
  int kept = 0;
  for (int b = 0; b < count; b++) {
    const uint8_t* rgba = rgba_blocks + 64 * b;
    BlockState* block = prepared + kept;
    memcpy(block->block_rgba, rgba, 64);
    int visible = 16;
    if (alpha_aware) {
      visible = 0;
      for (int i = 0; i < 16; i++) {
        block->alpha_flags[i] = rgba[4 * i + 3] >= visible_from;
        visible += block->alpha_flags[i];
      }
    }
    if (visible == 0 || all_pixels_equal(rgba)) continue;
    block->has_transparency = visible < 16;
    int listed = 0;
    for (int i = 0; i < 16; i++) {
      if (alpha_aware && !block->alpha_flags[i]) continue;
      memcpy(block->colour_list + 3 * listed, rgba + 4 * i, 3);
      listed++;
    }
    block->colour_count = listed;
    kept++;
  }
  return kept;
}

void encode_prepared(const BlockState* prepared, int count, int mode, bool reference,
                     uint8_t* records) {
  int size = bench_record_size(mode);
  for (int b = 0; b < count; b++) {
    const BlockState* block = prepared + b;
    uint8_t* record = records + size * b;
    if (mode & MODE_RECORD12) {
      if (reference) {
        reference_encode_block12(block->block_rgba, block->colour_list, block->colour_count, mode,
                                 record, nullptr);
      } else {
        encode_block12(block, mode, record);
      }
    } else if (reference) {
      reference_encode_colour_block(block->block_rgba, block->colour_list, block->colour_count,
                                    mode, record);
    } else {
      encode_colour_block(block, mode, record);
    }
  }
}
