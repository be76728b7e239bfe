// The per-block work that the search benchmarks time, built both natively and
// into the benchmark module: blocks are prepared once, then encoded again and
// again by the encoder's block encoders or by the reference ones.
#ifndef VELT_BLOCK_BENCH_CORE_H
#define VELT_BLOCK_BENCH_CORE_H

#include <stdint.h>

#include "block_encoding.h"

enum { BENCH_MAX_BLOCKS = 256 };

// Prepares `count` blocks of 16 RGBA pixels (64 bytes each, row-major) for
// `mode` the way the encoder does before its block encoders: alpha
// classification in the alpha-aware modes and the colour list. A block that
// never reaches the block encoders (no visible pixel, or all pixels equal) is
// left out. Returns the number of blocks written to `prepared`.
int prepare_blocks(const uint8_t* rgba_blocks, int count, int mode, BlockState* prepared);

// Encodes the prepared blocks into consecutive records of the mode's size
// (8 or 12 bytes), with the encoder's block encoders or, when `reference` is
// set, the reference ones.
void encode_prepared(const BlockState* prepared, int count, int mode, bool reference,
                     uint8_t* records);

// The record size of `mode`: 8, or 12 in the 12-byte modes.
int bench_record_size(int mode);

#endif
