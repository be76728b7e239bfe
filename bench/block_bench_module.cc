// The search benchmark module: the encoder's block sources and the reference
// encoders, sandboxed like the encoder itself, behind four exports. The host
// writes blocks at `blocks`, prepares them once per mode and times `encode`.
#include "block_bench_core.h"

static uint8_t input_blocks[BENCH_MAX_BLOCKS * 64];
static BlockState prepared_blocks[BENCH_MAX_BLOCKS];
static uint8_t output_records[BENCH_MAX_BLOCKS * VELT_MAX_RECORD_SIZE];
static int prepared_count;

extern "C" {

// Where the host writes up to BENCH_MAX_BLOCKS blocks of 64 RGBA bytes.
__attribute__((export_name("blocks"))) uint8_t* bench_blocks() { return input_blocks; }

// Where `encode` leaves the records, one after the other.
__attribute__((export_name("records"))) uint8_t* bench_records() { return output_records; }

// Prepares the first `count` blocks for `mode`; returns how many reach the
// block encoders.
__attribute__((export_name("prepare"))) int32_t bench_prepare(int32_t count, int32_t mode) {
  if (count < 0) count = 0;
  if (count > BENCH_MAX_BLOCKS) count = BENCH_MAX_BLOCKS;
  prepared_count = prepare_blocks(input_blocks, count, mode & VELT_MODE_BITS, prepared_blocks);
  return prepared_count;
}

// Encodes the prepared blocks in `mode` (the one they were prepared for),
// with the reference encoders when `reference` is not 0.
__attribute__((export_name("encode"))) void bench_encode(int32_t mode, int32_t reference) {
  encode_prepared(prepared_blocks, prepared_count, mode & VELT_MODE_BITS, reference != 0,
                  output_records);
}

}  // extern "C"
