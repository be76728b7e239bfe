#include "png_bomb.h"

#include <algorithm>

extern "C" {
#include "lodepng.h"
}

namespace {

void put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// Deflate's bit order: fields from their low bit, Huffman codes from their
// top bit, both filling each byte from its low bit.
struct BitWriter {
  std::vector<uint8_t> bytes;
  unsigned used = 8;  // bits taken in the last byte

  void bit(unsigned b) {
    if (used == 8) {
      bytes.push_back(0);
      used = 0;
    }
    bytes.back() |= static_cast<uint8_t>(b << used++);
  }
  void field(unsigned value, unsigned count) {
    for (unsigned i = 0; i < count; ++i) bit((value >> i) & 1);
  }
  void code(unsigned value, unsigned count) {
    for (unsigned i = count; i-- > 0;) bit((value >> i) & 1);
  }
};

// The block's trees, as canonical codes of their lengths:
//   literal/length: 285 (copy 258) "0", literal 0 "10", end of block "11"
//   distance:       0 (distance 1) "0", 1 "1"
//   code lengths:   18 (run of zeros) "0", length 1 "10", length 2 "11"
void write_dynamic_header(BitWriter& w) {
  w.field(1, 1);          // last block
  w.field(2, 2);          // dynamic Huffman codes
  w.field(286 - 257, 5);  // literal/length codes 0..285
  w.field(2 - 1, 5);      // distance codes 0..1
  w.field(18 - 4, 4);     // code length code lengths given, in deflate's order
  const unsigned order[18] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1};
  for (unsigned symbol : order) w.field(symbol == 18 ? 1 : symbol == 1 || symbol == 2 ? 2 : 0, 3);
  auto zeros = [&](unsigned n) {  // 11..138 zero lengths
    w.code(0, 1);
    w.field(n - 11, 7);
  };
  w.code(3, 2);  // literal 0: length 2
  zeros(138);
  zeros(117);    // literals 1..255
  w.code(3, 2);  // end of block: length 2
  zeros(28);     // lengths 257..284
  w.code(2, 2);  // 285: length 1
  w.code(2, 2);  // distance 0: length 1
  w.code(2, 2);  // distance 1: length 1
}

std::vector<uint8_t> zlib_zeros(uint64_t n) {
  BitWriter w;
  w.bytes = {0x78, 0x01};  // deflate, 32K window, no dictionary
  write_dynamic_header(w);
  w.code(2, 2);  // one literal 0 for the copies to repeat
  for (uint64_t k = (n - 1) / 258; k > 0; --k) {
    w.code(0, 1);  // copy 258
    w.code(0, 1);  // from 1 byte back
  }
  for (uint64_t k = (n - 1) % 258; k > 0; --k) w.code(2, 2);
  w.code(3, 2);  // end of block
  // Adler-32 of n zeros: the byte sum stays 1 and is added n times
  put32(w.bytes, static_cast<uint32_t>(n % 65521) << 16 | 1);
  return w.bytes;
}

void append_chunk(std::vector<uint8_t>& png, const char* type, const uint8_t* data, size_t size) {
  put32(png, static_cast<uint32_t>(size));
  size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data, data + size);
  put32(png, lodepng_crc32(&png[start], png.size() - start));
}

}  // namespace

std::vector<uint8_t> make_png_bomb(const PngBombHeader& header, uint64_t inflated_size) {
  std::vector<uint8_t> png = {137, 80, 78, 71, 13, 10, 26, 10};
  std::vector<uint8_t> ihdr;
  put32(ihdr, header.width);
  put32(ihdr, header.height);
  ihdr.insert(ihdr.end(), {header.bit_depth, header.colour_type, 0, 0, uint8_t(header.interlaced)});
  append_chunk(png, "IHDR", ihdr.data(), ihdr.size());
  if (header.colour_type == 3) {
    const uint8_t black[3] = {0, 0, 0};
    append_chunk(png, "PLTE", black, 3);
  }
  std::vector<uint8_t> stream = zlib_zeros(inflated_size);
  const size_t kChunk = 1 << 20;  // IDAT chunks of at most 1 MiB
  for (size_t at = 0; at < stream.size(); at += kChunk) {
    append_chunk(png, "IDAT", &stream[at], std::min(kChunk, stream.size() - at));
  }
  append_chunk(png, "IEND", nullptr, 0);
  return png;
}
