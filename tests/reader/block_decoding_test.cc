// Block records decoded to pixels: hand-made records of every layout, and
// the encoder's uniform and transparent records of every mode.
#include <cstring>

#include <gtest/gtest.h>

#include "block_pixels.h"
#include "velt_reader.h"

namespace {

using namespace block_pixels;

const Pixel kClear{0, 0, 0, 0};

Pixel rgba(int r, int g, int b, int a = 255) {
  return Pixel{uint8_t(r), uint8_t(g), uint8_t(b), uint8_t(a)};
}

Bytes decoded(const Bytes& record, BlockMode mode) {
  Bytes pixels(64);
  decode_block(record.data(), mode, pixels.data());
  return pixels;
}

Bytes pixel_bytes(const Block& block) {
  Bytes pixels(64);
  to_rgba(block, pixels.data());
  return pixels;
}

struct DecodeCase {
  const char* why;
  BlockMode mode;
  Bytes record;
  Block expected;
};

TEST(BlockDecoding, RecordsGiveTheirPixels) {
  const Pixel grey170 = grey(170), grey85 = grey(85), white = kWhite, black = kBlack;
  const Pixel clear_white = rgba(255, 255, 255, 0);
  const DecodeCase cases[] = {
      // 8-byte records
      {"uniform red: colour 0xF800 stored low byte first", MODE_OPAQUE,
       {0x00, 0xF8, 0, 0, 0, 0, 0, 0}, uniform(kRed)},
      {"uniform black: equal endpoints take index 0, still opaque", MODE_OPAQUE, Bytes(8, 0),
       uniform(black)},
      {"mid-grey 0x8410 unpacks by bit replication", MODE_OPAQUE,
       {0x10, 0x84, 0, 0, 0, 0, 0, 0}, uniform(rgba(132, 130, 132))},
      {"alpha-aware uniform record: equal endpoints", MODE_ALPHA,
       {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}, uniform(white)},
      {"alpha-aware transparent record: index 3 of three colours is clear", MODE_ALPHA,
       {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, uniform(kClear)},
      {"four colours: white, black and their thirds; leftmost pixel in the top bits", MODE_OPAQUE,
       {0xFF, 0xFF, 0x00, 0x00, 0x05, 0x11, 0x55, 0xAF},
       rows({white, white, black, black}, {white, black, white, black},
            {black, black, black, black}, {grey170, grey170, grey85, grey85})},
      {"indices 0, 1, 2, 3 in every row: thirds of red and blue", MODE_OPAQUE,
       {0x00, 0xF8, 0x1F, 0x00, 0x1B, 0x1B, 0x1B, 0x1B},
       rows({kRed, kBlue, rgba(170, 0, 85), rgba(85, 0, 170)},
            {kRed, kBlue, rgba(170, 0, 85), rgba(85, 0, 170)},
            {kRed, kBlue, rgba(170, 0, 85), rgba(85, 0, 170)},
            {kRed, kBlue, rgba(170, 0, 85), rgba(85, 0, 170)})},
      {"endpoint 0xFFFF over 0x5ACB: grey 90 unpacks to (90, 89, 90)", MODE_OPAQUE,
       {0xFF, 0xFF, 0xCB, 0x5A, 0x55, 0x55, 0x55, 0x45},
       with(uniform(rgba(90, 89, 90)), 13, white)},
      {"three colours: index 3 is a clear pixel", MODE_ALPHA,
       {0x00, 0x00, 0xFF, 0xFF, 0x50, 0x05, 0xFF, 0x44},
       rows({white, white, black, black}, {black, black, white, white},
            {kClear, kClear, kClear, kClear}, {white, black, white, black})},
      {"three colours: index 2 is the half mix, halves rounded up", MODE_ALPHA,
       {0x00, 0x00, 0xFF, 0xFF, 0xAA, 0xAA, 0xAA, 0xAA}, uniform(grey(128))},
      {"equal endpoints with clear pixels", MODE_ALPHA,
       {0x00, 0xF8, 0x00, 0xF8, 0x0F, 0xF0, 0x00, 0x00},
       rows({kRed, kRed, kClear, kClear}, {kClear, kClear, kRed, kRed}, {kRed, kRed, kRed, kRed},
            {kRed, kRed, kRed, kRed})},

      // 12-byte records, three-endpoint layout
      {"plain 12-byte uniform record: index 0 of three endpoints", MODE_OPAQUE12,
       repeat({0xFF, 0xFF}, 0, 10), uniform(white)},
      {"red, green, blue and their mean (85, 85, 85)", MODE_OPAQUE12,
       {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0x00, 0x02, 0x49, 0x92, 0x4B, 0x6D},
       rows({kRed, kRed, kRed, kRed}, {kGreen, kGreen, kGreen, kGreen},
            {kBlue, kBlue, kBlue, kBlue}, {grey85, grey85, grey85, grey85})},
      {"alpha-aware mode with endpoint0 > endpoint1 takes the three-endpoint layout", MODE_ALPHA12,
       {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0x00, 0x02, 0x49, 0x92, 0x4B, 0x6D},
       rows({kRed, kRed, kRed, kRed}, {kGreen, kGreen, kGreen, kGreen},
            {kBlue, kBlue, kBlue, kBlue}, {grey85, grey85, grey85, grey85})},
      {"indices 0..7 then 7..0: all eight entries, 48 bits from the top", MODE_OPAQUE12,
       {0x00, 0xF8, 0x1F, 0x00, 0xE0, 0x07, 0x05, 0x39, 0x77, 0xFA, 0xC6, 0x88},
       rows({kRed, kBlue, rgba(170, 0, 85), rgba(85, 0, 170)},
            {kGreen, grey85, rgba(128, 128, 0), rgba(0, 128, 128)},
            {rgba(0, 128, 128), rgba(128, 128, 0), grey85, kGreen},
            {rgba(85, 0, 170), rgba(170, 0, 85), kBlue, kRed})},
      {"the alpha layout exists only in the alpha-aware mode: no level, index 0", MODE_OPAQUE12,
       repeat({0xFF, 0xFF, 0xFF, 0xFF}, 0x00, 8), uniform(white)},

      // 12-byte records, alpha layout
      {"alpha-aware 12-byte transparent record: code 4 everywhere", MODE_ALPHA12,
       repeat({0, 0, 0, 0}, 0x44, 8), uniform(kClear)},
      {"uniform white at level 3", MODE_ALPHA12, repeat({0xFF, 0xFF, 0xFF, 0xFF}, 0x33, 8),
       uniform(white)},
      {"uniform white at level 1", MODE_ALPHA12, repeat({0xFF, 0xFF, 0xFF, 0xFF}, 0x11, 8),
       uniform(rgba(255, 255, 255, 128))},
      {"uniform white at level 0", MODE_ALPHA12, repeat({0xFF, 0xFF, 0xFF, 0xFF}, 0x00, 8),
       uniform(rgba(255, 255, 255, 64))},
      {"code 4 keeps colour index 1 at alpha 0; the first pixel in the high nibble", MODE_ALPHA12,
       {0x00, 0x00, 0xFF, 0xFF, 0x77, 0x33, 0x33, 0x77, 0x44, 0x44, 0x73, 0x73},
       rows({white, white, black, black}, {black, black, white, white},
            {clear_white, clear_white, clear_white, clear_white}, {white, black, white, black})},
      {"level 2: 170 for colour index 1, 192 for index 0", MODE_ALPHA12,
       {0x00, 0x00, 0xFF, 0xFF, 0x66, 0x22, 0x66, 0x22, 0x66, 0x22, 0x66, 0x22},
       rows({grey(255, 170), grey(255, 170), grey(0, 192), grey(0, 192)},
            {grey(255, 170), grey(255, 170), grey(0, 192), grey(0, 192)},
            {grey(255, 170), grey(255, 170), grey(0, 192), grey(0, 192)},
            {grey(255, 170), grey(255, 170), grey(0, 192), grey(0, 192)})},
      {"codes 8..15 then 0..7: the whole level table", MODE_ALPHA12,
       {0x00, 0x00, 0xFF, 0xFF, 0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67},
       rows({grey(85, 64), grey(85, 128), grey(85, 192), grey(85, 255)},
            {grey(170, 64), grey(170, 128), grey(170, 192), grey(170, 255)},
            {grey(0, 64), grey(0, 128), grey(0, 192), grey(0, 255)},
            {grey(255, 0), grey(255, 85), grey(255, 170), grey(255, 255)})},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.why);
    ASSERT_EQ(c.record.size(), size_t(record_size_of(c.mode)));
    EXPECT_EQ(decoded(c.record, c.mode), pixel_bytes(c.expected));
  }
}

// Every colour RGB565 holds exactly survives the encoder's uniform record in
// every mode; alpha is kept where the mode has it.
TEST(BlockDecoding, EncodedUniformBlocksDecodeExactly) {
  for (int mode = MODE_OPAQUE; mode <= MODE_ALPHA12; ++mode) {
    SCOPED_TRACE(mode);
    for (uint32_t c = 0; c < 0x10000; ++c) {
      const int r5 = c >> 11, g6 = (c >> 5) & 63, b5 = c & 31;
      const Pixel colour = rgba((r5 << 3) | (r5 >> 2), (g6 << 2) | (g6 >> 4), (b5 << 3) | (b5 >> 2));
      const Bytes pixels = decoded(encode(uniform(colour), mode), BlockMode(mode));
      if (pixels != pixel_bytes(uniform(colour))) {
        ADD_FAILURE() << "colour " << std::hex << c;
        break;
      }
    }
  }
}

struct AlphaCase {
  const char* why;
  int mode;
  Pixel source;
  Pixel expected;
};

TEST(BlockDecoding, EncodedAlphaDecodesToItsLevel) {
  const Pixel red = kRed;
  const AlphaCase cases[] = {
      {"plain mode keeps no alpha", MODE_OPAQUE, rgba(255, 0, 0, 0), red},
      {"plain 12-byte mode keeps no alpha", MODE_OPAQUE12, rgba(255, 0, 0, 7), red},
      {"alpha-aware: below 128 is clear", MODE_ALPHA, rgba(255, 0, 0, 127), kClear},
      {"alpha-aware: 128 and above is opaque", MODE_ALPHA, rgba(255, 0, 0, 128), red},
      {"alpha-aware 12-byte: below 32 is clear", MODE_ALPHA12, rgba(255, 0, 0, 31), kClear},
      {"alpha-aware 12-byte: 32..95 is level 0", MODE_ALPHA12, rgba(255, 0, 0, 32),
       rgba(255, 0, 0, 64)},
      {"alpha-aware 12-byte: 96..223 is level 1", MODE_ALPHA12, rgba(255, 0, 0, 223),
       rgba(255, 0, 0, 128)},
      {"alpha-aware 12-byte: 224 and above is level 3", MODE_ALPHA12, rgba(255, 0, 0, 224), red},
  };
  for (const AlphaCase& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(decoded(encode(uniform(c.source), c.mode), BlockMode(c.mode)),
              pixel_bytes(uniform(c.expected)));
  }
}

}  // namespace
