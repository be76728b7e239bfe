// Rebuilds the 16 pixels of one block record: the 8-byte record with its
// four-colour and three-colour palettes, and the two 12-byte layouts.
#include "velt_format.h"
#include "velt_reader.h"

namespace {

struct Colour {
  int r, g, b;
};

const Colour kClear = {0, 0, 0};
// alpha of each level: colour index 1 reaches 0, the others start at 64
const uint8_t kIndex1Levels[4] = {0, 85, 170, 255};
const uint8_t kOtherLevels[4] = {64, 128, 192, 255};

uint16_t read_rgb565(const uint8_t* bytes) { return uint16_t(bytes[0] | bytes[1] << 8); }

// Back to 8 bits a channel by replicating the top bits into the low ones.
Colour unpack_rgb565(uint16_t c) {
  const int r5 = c >> 11, g6 = (c >> 5) & 63, b5 = c & 31;
  return {(r5 << 3) | (r5 >> 2), (g6 << 2) | (g6 >> 4), (b5 << 3) | (b5 >> 2)};
}

// Two thirds a, one third b, to the nearest integer (never a tie).
Colour third(Colour a, Colour b) {
  return {(2 * a.r + b.r + 1) / 3, (2 * a.g + b.g + 1) / 3, (2 * a.b + b.b + 1) / 3};
}

// The mean of a and b, halves rounded up.
Colour half(Colour a, Colour b) {
  return {(a.r + b.r + 1) / 2, (a.g + b.g + 1) / 2, (a.b + b.b + 1) / 2};
}

// The mean of three colours, to the nearest integer (never a tie).
Colour third3(Colour a, Colour b, Colour c) {
  return {(a.r + b.r + c.r + 1) / 3, (a.g + b.g + c.g + 1) / 3, (a.b + b.b + c.b + 1) / 3};
}

void put_pixel(uint8_t* pixel, Colour c, uint8_t alpha) {
  pixel[0] = uint8_t(c.r);
  pixel[1] = uint8_t(c.g);
  pixel[2] = uint8_t(c.b);
  pixel[3] = alpha;
}

// endpoint0 > endpoint1: four colours; otherwise three and a transparent index 3.
void decode_block8(const uint8_t* record, uint8_t rgba[64]) {
  const uint16_t c0 = read_rgb565(record), c1 = read_rgb565(record + 2);
  const Colour p0 = unpack_rgb565(c0), p1 = unpack_rgb565(c1);
  const bool four_colours = c0 > c1;
  const Colour palette[4] = {p0, p1, four_colours ? third(p0, p1) : half(p0, p1),
                             four_colours ? third(p1, p0) : kClear};
  const uint8_t alpha[4] = {255, 255, 255, uint8_t(four_colours ? 255 : 0)};
  for (int i = 0; i < 16; ++i) {
    // the leftmost pixel of a row is in the top two bits of its byte
    const int index = (record[4 + i / 4] >> (6 - 2 * (i % 4))) & 3;
    put_pixel(rgba + 4 * i, palette[index], alpha[index]);
  }
}

// Two endpoints and a 4-bit code a pixel: colour index in bits 3-2, alpha level in bits 1-0.
void decode_alpha_layout(const uint8_t* record, uint8_t rgba[64]) {
  const Colour p0 = unpack_rgb565(read_rgb565(record));
  const Colour p1 = unpack_rgb565(read_rgb565(record + 2));
  const Colour palette[4] = {p0, p1, third(p0, p1), third(p1, p0)};
  for (int i = 0; i < 16; ++i) {
    const int code = (i % 2 == 0 ? record[4 + i / 2] >> 4 : record[4 + i / 2]) & 15;
    const int index = code >> 2, level = code & 3;
    put_pixel(rgba + 4 * i, palette[index], index == 1 ? kIndex1Levels[level] : kOtherLevels[level]);
  }
}

// Three endpoints and sixteen 3-bit indices, one 48-bit string read from its top bit.
void decode_three_endpoints(const uint8_t* record, uint8_t rgba[64]) {
  const Colour p0 = unpack_rgb565(read_rgb565(record));
  const Colour p1 = unpack_rgb565(read_rgb565(record + 2));
  const Colour p2 = unpack_rgb565(read_rgb565(record + 4));
  const Colour palette[8] = {p0, p1, third(p0, p1), third(p1, p0),
                             p2, third3(p0, p1, p2), half(p0, p2), half(p1, p2)};
  uint64_t indices = 0;
  for (int b = 6; b < 12; ++b) indices = indices << 8 | record[b];
  for (int i = 0; i < 16; ++i) put_pixel(rgba + 4 * i, palette[(indices >> (45 - 3 * i)) & 7], 255);
}

}  // namespace

void decode_block(const uint8_t* record, BlockMode mode, uint8_t rgba[64]) {
  if (record_size_of(mode) == VELT_RECORD8_SIZE)
    decode_block8(record, rgba);
  else if (mode == MODE_ALPHA12 && read_rgb565(record + 2) >= read_rgb565(record))
    decode_alpha_layout(record, rgba);
  else
    decode_three_endpoints(record, rgba);
}
