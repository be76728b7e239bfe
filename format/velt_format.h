// The VELT file format's constants, named once for the encoder, the reader
// and the fuzzers. Plain C with <stdint.h> only, so that it also builds inside
// the encoder module against the module library.
#ifndef VELT_FORMAT_H
#define VELT_FORMAT_H

#include <stdint.h>

// The header: magic, reserved byte, rate code, frame count, size codes.
enum {
  VELT_HEADER_SIZE = 10,
  VELT_MAGIC_SIZE = 4,
  VELT_OFFSET_MAGIC = 0,        // "VELT"
  VELT_OFFSET_RESERVED = 4,     // always VELT_RESERVED_VALUE
  VELT_OFFSET_RATE_CODE = 5,    // 2 * fps - 1, with the flags mark
  VELT_OFFSET_FRAME_COUNT = 6,  // 16 bits, big-endian: high byte here, low byte next
  VELT_OFFSET_WIDTH_CODE = 8,   // blocks across minus one
  VELT_OFFSET_HEIGHT_CODE = 9,  // blocks down minus one
  VELT_RESERVED_VALUE = 0,
};

static const uint8_t VELT_MAGIC[VELT_MAGIC_SIZE] = {'V', 'E', 'L', 'T'};

// The rate code's byte: with any encoding flag set, bit 7 marks it and the
// rate keeps only the low seven bits.
enum {
  VELT_RATE_FLAGS_MARK = 0x80,
  VELT_RATE_MARKED_BITS = 0x7F,
};

// Frame sizes and counts.
enum {
  VELT_BLOCK_SIDE = 4,                                       // pixels across and down a block
  VELT_MAX_BLOCKS_PER_SIDE = 255,                            // frames are below 1024 pixels a side
  VELT_MAX_SIZE_CODE = VELT_MAX_BLOCKS_PER_SIDE - 1,         // 254; code 255 is refused
  VELT_MAX_SIDE = VELT_BLOCK_SIDE * VELT_MAX_BLOCKS_PER_SIDE,  // 1020 pixels
  VELT_MAX_BLOCK_COUNT = VELT_MAX_BLOCKS_PER_SIDE * VELT_MAX_BLOCKS_PER_SIDE,
  VELT_MAX_FRAME_COUNT = 65535,                              // the count is 16 bits
};

// A frame record's change map: one bit a block, the first block in the top
// bit of the first byte, unused low bits of the last byte zero.
#define VELT_CHANGE_MAP_SIZE(blocks) (((blocks) + 7) / 8)
enum { VELT_MAX_CHANGE_MAP_SIZE = VELT_CHANGE_MAP_SIZE(VELT_MAX_BLOCK_COUNT) };

// The block mode: the two low bits of the encoding flags. The header only
// marks that some flag was set, so a reader is told the mode.
enum {
  VELT_MODE_ALPHA_AWARE = 1,  // alpha classification, transparent pixels
  VELT_MODE_RECORD12 = 2,     // 12-byte block records
  VELT_MODE_BITS = 3,
};

// Block records follow the change map, one for each changed block.
enum {
  VELT_RECORD8_SIZE = 8,
  VELT_RECORD12_SIZE = 12,
  VELT_MAX_RECORD_SIZE = 12,
};
#define VELT_RECORD_SIZE(mode) \
  (((mode) & VELT_MODE_RECORD12) ? VELT_RECORD12_SIZE : VELT_RECORD8_SIZE)

#endif
