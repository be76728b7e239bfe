// The part file: the records of a contiguous range of frames, encoded on its
// own (by another process or machine) and joined with the other parts of its
// sequence into the one VELT file that a single run writes.
//
// A part starts with a fixed header of little-endian fields, then its payload:
// the frame records of frames `first` .. `end` - 1, exactly as they stand in
// the whole file, and, when `closing` is 1, the closing record (frame 0 again,
// as the changes from frame `end` - 1). A sequence's parts chain: each starts
// where the one before it ended, and the frame its first record is measured
// against has the hash with which the part before ends. The part that holds
// the closing record is the last one whose records the file takes.
//
// The part's hash covers the whole file: the payload, then the header with
// the hash field zero. Payload first, because the encoder hashes the records
// as it writes them and fills the header last; so a changed bit anywhere, in
// a record or a header field, is found before anything is joined.
//
// Plain C with <stdint.h> only, so that it also builds inside the encoder
// module.
#ifndef VELT_PART_FORMAT_H
#define VELT_PART_FORMAT_H

#include <stdint.h>

#include "velt_format.h"

enum {
  VELT_PART_MAGIC_SIZE = 8,
  // 1: the hash covered the payload alone; 2: no tolerance or refresh interval
  VELT_PART_VERSION = 3,
  VELT_PART_REASON_SIZE = 160,

  VELT_PART_OFFSET_MAGIC = 0,          // "VELTPART"
  VELT_PART_OFFSET_VERSION = 8,        // 32 bits: VELT_PART_VERSION
  VELT_PART_OFFSET_MODE = 12,          // 32 bits: the block mode, 0..3
  VELT_PART_OFFSET_HEADER = 16,        // the VELT header of the whole file, frame count 0
  VELT_PART_OFFSET_FIRST = 28,         // 32 bits: the first frame whose record is here
  VELT_PART_OFFSET_END = 32,           // 32 bits: one past the last such frame
  VELT_PART_OFFSET_CLOSING = 36,       // 32 bits: 1 when the closing record ends the payload
  VELT_PART_OFFSET_RESULT = 40,        // 32 bits: 0, or the failure code that stopped the part
  VELT_PART_OFFSET_FAILING = 44,       // 32 bits, signed: the frame it failed at, or -1
  VELT_PART_OFFSET_FRAME0_HASH = 48,   // 64 bits: hash of frame 0's pixels
  // 64 bits each: the chain hashes of what the first record is measured
  // against (frame `first` - 1; 0 when first is 0) and of what the next
  // part's is (frame `end` - 1, or `first` - 1 when the part holds no frame;
  // 0 when there is none). With a tolerance each covers every frame from the
  // last refresh frame up to that one, whose references the records depend on.
  VELT_PART_OFFSET_BEFORE_HASH = 56,
  VELT_PART_OFFSET_LAST_HASH = 64,
  VELT_PART_OFFSET_PAYLOAD_SIZE = 72,  // 64 bits: bytes after the header
  VELT_PART_OFFSET_HASH = 80,          // 64 bits: velt_part_file_hash of the part
  VELT_PART_OFFSET_TOLERANCE = 88,     // 32 bits: the run's tolerance in levels
  VELT_PART_OFFSET_REFRESH = 92,       // 32 bits: the run's refresh interval in frames
  VELT_PART_OFFSET_REASON = 96,        // what stopped the part, NUL-padded text
  VELT_PART_HEADER_SIZE = VELT_PART_OFFSET_REASON + VELT_PART_REASON_SIZE,  // 256
};

static const uint8_t VELT_PART_MAGIC[VELT_PART_MAGIC_SIZE] = {'V', 'E', 'L', 'T',
                                                              'P', 'A', 'R', 'T'};

// The hashes are 64-bit FNV-1a. A frame's hash covers its width and height
// (32 bits each, little-endian) and then its RGBA pixels.
#define VELT_PART_HASH_START 0xcbf29ce484222325ull
#define VELT_PART_HASH_PRIME 0x100000001b3ull

static inline uint64_t velt_part_hash(uint64_t hash, const uint8_t* bytes, uint64_t size) {
  for (uint64_t i = 0; i < size; i++) hash = (hash ^ bytes[i]) * VELT_PART_HASH_PRIME;
  return hash;
}

// The part's hash from the hash of its payload (velt_part_hash from
// VELT_PART_HASH_START over the bytes after the header) and its header, whose
// hash field counts as zero.
static inline uint64_t velt_part_file_hash(uint64_t payload_hash,
                                           const uint8_t header[VELT_PART_HEADER_SIZE]) {
  static const uint8_t zero[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  enum { AFTER_HASH = VELT_PART_OFFSET_HASH + 8 };
  uint64_t hash = velt_part_hash(payload_hash, header, VELT_PART_OFFSET_HASH);
  hash = velt_part_hash(hash, zero, sizeof zero);
  return velt_part_hash(hash, header + AFTER_HASH, VELT_PART_HEADER_SIZE - AFTER_HASH);
}

static inline void velt_part_put32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; i++) at[i] = (uint8_t)(value >> (8 * i));
}
static inline void velt_part_put64(uint8_t* at, uint64_t value) {
  for (int i = 0; i < 8; i++) at[i] = (uint8_t)(value >> (8 * i));
}
static inline uint32_t velt_part_get32(const uint8_t* at) {
  uint32_t value = 0;
  for (int i = 0; i < 4; i++) value |= (uint32_t)at[i] << (8 * i);
  return value;
}
static inline uint64_t velt_part_get64(const uint8_t* at) {
  uint64_t value = 0;
  for (int i = 0; i < 8; i++) value |= (uint64_t)at[i] << (8 * i);
  return value;
}

#endif
