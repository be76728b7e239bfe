// 4x4 blocks for the block encoder tests: pixels, named colours, builders,
// and encode_block run on a frame that is just the block.
#ifndef VELT_TESTS_BLOCK_PIXELS_H
#define VELT_TESTS_BLOCK_PIXELS_H

#include <array>
#include <cstdint>
#include <vector>

#include "block_encoding.h"

namespace block_pixels {

using Bytes = std::vector<uint8_t>;

struct Pixel {
  uint8_t r, g, b, a;
};
using Block = std::array<Pixel, 16>;

inline const Pixel kWhite{255, 255, 255, 255};
inline const Pixel kBlack{0, 0, 0, 255};
inline const Pixel kRed{255, 0, 0, 255};
inline const Pixel kGreen{0, 255, 0, 255};
inline const Pixel kBlue{0, 0, 255, 255};

inline Pixel grey(int v, int a = 255) { return Pixel{uint8_t(v), uint8_t(v), uint8_t(v), uint8_t(a)}; }

// Rows of four pixels, top to bottom.
inline Block rows(std::array<Pixel, 4> r0, std::array<Pixel, 4> r1, std::array<Pixel, 4> r2,
                  std::array<Pixel, 4> r3) {
  Block b;
  for (int c = 0; c < 4; c++) {
    b[c] = r0[c];
    b[4 + c] = r1[c];
    b[8 + c] = r2[c];
    b[12 + c] = r3[c];
  }
  return b;
}

inline Block uniform(Pixel p) {
  Block b;
  b.fill(p);
  return b;
}

inline Block with(Block b, int i, Pixel p) {
  b[i] = p;
  return b;
}

inline void to_rgba(const Block& block, uint8_t rgba[64]) {
  for (int i = 0; i < 16; i++) {
    rgba[4 * i] = block[i].r;
    rgba[4 * i + 1] = block[i].g;
    rgba[4 * i + 2] = block[i].b;
    rgba[4 * i + 3] = block[i].a;
  }
}

// Runs encode_block on a 4x4 frame that is just this block; `state`, when
// given, keeps the block state it leaves.
inline Bytes encode(const Block& block, int mode, BlockState* state = nullptr) {
  BlockState local;
  if (!state) state = &local;
  uint8_t frame[64], record[VELT_MAX_RECORD_SIZE];
  to_rgba(block, frame);
  int size = encode_block(state, frame, 4, 0, 0, mode, record);
  return Bytes(record, record + size);
}

// `head` followed by n copies of `byte`.
inline Bytes repeat(Bytes head, uint8_t byte, int n) {
  head.insert(head.end(), n, byte);
  return head;
}

// One row of a record table: the block, its mode and the bytes it must give.
struct RecordCase {
  const char* why;
  int mode;
  Block block;
  Bytes expected;
};

}  // namespace block_pixels

#endif
