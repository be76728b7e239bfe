#include "block_bench_core.h"

#include <string.h>

#include "reference_search.h"

int bench_record_size(int mode) { return VELT_RECORD_SIZE(mode); }

int prepare_blocks(const uint8_t* rgba_blocks, int count, int mode, BlockState* prepared) {
  int kept = 0;
  for (int b = 0; b < count; b++) {
    BlockState* block = prepared + kept;
    memcpy(block->block_rgba, rgba_blocks + 64 * b, 64);
    if (prepare_block(block, mode) == BLOCK_COLOURS) kept++;
  }
  return kept;
}

void encode_prepared(const BlockState* prepared, int count, int mode, bool reference,
                     uint8_t* records) {
  int size = bench_record_size(mode);
  for (int b = 0; b < count; b++) {
    const BlockState* block = prepared + b;
    uint8_t* record = records + size * b;
    if (mode & VELT_MODE_RECORD12) {
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
