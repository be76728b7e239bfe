// PNG files whose image data inflates to far more bytes than their header
// allows: inputs for testing and measuring how a decoder bounds its work.
#ifndef VELT_TOOLS_PNG_BOMB_H
#define VELT_TOOLS_PNG_BOMB_H

#include <cstdint>
#include <vector>

struct PngBombHeader {
  uint32_t width = 4;
  uint32_t height = 4;
  uint8_t colour_type = 6;  // RGBA; a palette type gets a one-entry PLTE
  uint8_t bit_depth = 8;
  bool interlaced = false;
};

// A well-formed PNG (signature, IHDR, IDAT, IEND, every CRC and the zlib
// checksum right) whose image data inflates to `inflated_size` zero bytes,
// at least 1. Zeros are filter type 0 and sample 0, so when `inflated_size`
// is the exact size the header implies, the file is a valid black picture.
// The stream is one dynamic Huffman block that repeats 258-byte copies at
// two bits each: about 1 byte per 1032 inflated bytes.
std::vector<uint8_t> make_png_bomb(const PngBombHeader& header, uint64_t inflated_size);

#endif
