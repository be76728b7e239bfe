// Twelve-byte block records: golden bytes for both layouts through
// encode_block, the alpha levels per colour index, the extended palette, the
// packing of codes and of the 48-bit index string, and the three-way mean.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "block_encoding.h"
#include "block_pixels.h"
#include "reference_search.h"

namespace {

using namespace block_pixels;

const Pixel kClear{0, 0, 0, 0};

Pixel with_alpha(Pixel p, int a) { return Pixel{p.r, p.g, p.b, uint8_t(a)}; }

Block all_alpha(Block b, int a) {
  for (Pixel& p : b) p.a = uint8_t(a);
  return b;
}

// The reference encoder's record of a colour block (not uniform, not transparent).
Bytes reference_record(const Block& block, int mode) {
  uint8_t rgba[64], list[48], record[12];
  to_rgba(block, rgba);
  int count = 0;
  for (int i = 0; i < 16; i++) {
    if (mode == 3 && block[i].a < 32) continue;
    memcpy(list + 3 * count++, rgba + 4 * i, 3);
  }
  reference_encode_block12(rgba, list, count, mode, record, nullptr);
  return Bytes(record, record + 12);
}

const Pixel W = kWhite, K = kBlack;
const Block kStripes = rows({W, W, K, K}, {W, W, K, K}, {W, W, K, K}, {W, W, K, K});
const Bytes kStripesRecord{0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x90, 0x09, 0x00, 0x90, 0x09};

TEST(Block12Records, Examples) {
  const Pixel R = kRed, G = kGreen, B = kBlue, C = kClear;
  const Block rgbk = rows({R, R, R, R}, {G, G, G, G}, {B, B, B, B}, {K, K, K, K});
  const Bytes rgbk_record{0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0x00, 0x02, 0x49, 0x92, 0x4B, 0x6D};
  const Block mixed = rows({W, W, K, K}, {K, K, W, W}, {C, C, C, C}, {W, K, W, K});
  const Bytes mixed_record{0x00, 0x00, 0xFF, 0xFF, 0x77, 0x33, 0x33, 0x77, 0x44, 0x44, 0x73, 0x73};
  const Bytes stripes_alpha_head{0x00, 0x00, 0xFF, 0xFF, 0x77, 0x33, 0x77, 0x33, 0x77, 0x33, 0x77};
  const Block one_rgb = with(with(uniform(with_alpha(R, 240)), 0, R), 9, R);
  const std::vector<RecordCase> cases = {
      {"red, green, blue kept; black on the three-way mean", 2, rgbk, rgbk_record},
      {"opaque block in mode 3 takes the three-endpoint layout", 3, rgbk, rgbk_record},
      // (white, white, black) ties at 0 but E == F needs G == E
      {"best triple (white, black, white), larger colour first", 2, kStripes, kStripesRecord},
      {"opaque stripes in mode 3, c0 > c1", 3, kStripes, kStripesRecord},
      {"clear pixels: pair search, alpha layout, code 4", 3, mixed, mixed_record},
      {"alpha 40 nearest colour index 1 is level 0, the transparent code", 3,
       with(with(mixed, 10, with_alpha(W, 40)), 11, with_alpha(W, 40)), mixed_record},
      {"alpha 200: triple search, then alpha layout, level 2 in both rows", 3,
       all_alpha(kStripes, 200),
       {0x00, 0x00, 0xFF, 0xFF, 0x66, 0x22, 0x66, 0x22, 0x66, 0x22, 0x66, 0x22}},
      {"one pixel at 223 forces the alpha layout", 3, with(kStripes, 15, grey(0, 223)),
       repeat(stripes_alpha_head, 0x32, 1)},
      {"alpha 32 is listed but coded transparent", 3, with(kStripes, 15, grey(0, 32)),
       repeat(stripes_alpha_head, 0x34, 1)},
      {"alpha 224 keeps the three-endpoint layout", 3, with(kStripes, 15, grey(0, 224)),
       kStripesRecord},
      {"one RGB, alphas >= 224: equal endpoints force the alpha layout", 3, one_rgb,
       repeat({0x00, 0xF8, 0x00, 0xF8}, 0x33, 8)},
      {"one RGB in mode 2: three equal colours, every index 0", 2, one_rgb,
       repeat({0x00, 0xF8, 0x00, 0xF8, 0x00, 0xF8}, 0x00, 6)},
  };
  for (const RecordCase& c : cases) {
    EXPECT_EQ(encode(c.block, c.mode), c.expected) << c.why << " (mode " << c.mode << ")";
    // the same bytes from the oracle that the differential test trusts
    EXPECT_EQ(reference_record(c.block, c.mode), c.expected)
        << "reference: " << c.why << " (mode " << c.mode << ")";
  }
}

TEST(Block12Records, Mode2HasNoTransparentRecord) {
  const struct {
    const char* why;
    Block block;
    Bytes expected;
  } cases[] = {
      {"uniform alpha 0 is uniform, never transparent", uniform(with_alpha(kRed, 0)),
       repeat({0x00, 0xF8}, 0x00, 10)},
      {"clear stripes are a colour block; alpha plays no part", all_alpha(kStripes, 0),
       kStripesRecord},
  };
  for (auto& c : cases) EXPECT_EQ(encode(c.block, 2), c.expected) << c.why;
}

// Codes of the 16 pixels of an alpha-layout record.
std::array<int, 16> codes_of(const Bytes& record) {
  std::array<int, 16> codes{};
  for (int m = 0; m < 8; m++) {
    codes[2 * m] = record[4 + m] >> 4;
    codes[2 * m + 1] = record[4 + m] & 15;
  }
  return codes;
}

TEST(Block12Records, AlphaLevelsPerColourIndex) {
  // endpoints black and white: entries 0..3 are black, white, grey 85 and
  // grey 170, each met exactly by one of the four base pixels
  const Pixel base[4] = {kBlack, kWhite, grey(85), grey(170)};
  const struct {
    int colour_index;
    struct {
      int alpha, code;
    } pixels[8];
  } cases[] = {
      // colour index 0: levels at 64, 128, 192, 255; 96 ties 64 and 128
      {0, {{32, 4}, {33, 0}, {96, 0}, {97, 1}, {160, 1}, {161, 2}, {223, 2}, {224, 3}}},
      // colour index 1: levels at 0, 85, 170, 255; level 0 is the transparent code
      {1, {{32, 4}, {33, 4}, {42, 4}, {43, 5}, {127, 5}, {128, 6}, {212, 6}, {213, 7}}},
      // colour index 2: 160 ties 128 and 192
      {2, {{32, 4}, {33, 8}, {96, 8}, {97, 9}, {160, 9}, {161, 10}, {223, 10}, {224, 11}}},
      {3, {{32, 4}, {33, 12}, {96, 12}, {97, 13}, {160, 13}, {161, 14}, {223, 14}, {224, 15}}},
  };
  for (auto& c : cases) {
    Block block;
    for (int i = 0; i < 4; i++) block[i] = block[12 + i] = base[i];
    for (int i = 0; i < 8; i++) block[4 + i] = with_alpha(base[c.colour_index], c.pixels[i].alpha);
    Bytes record = encode(block, 3);
    ASSERT_EQ(record.size(), 12u);
    EXPECT_EQ(Bytes(record.begin(), record.begin() + 4), (Bytes{0x00, 0x00, 0xFF, 0xFF}));
    std::array<int, 16> codes = codes_of(record);
    for (int i = 0; i < 4; i++) {
      EXPECT_EQ(codes[i], 4 * i + 3) << "opaque base pixel " << i;
      EXPECT_EQ(codes[12 + i], 4 * i + 3) << "opaque base pixel " << 12 + i;
    }
    for (int i = 0; i < 8; i++) {
      EXPECT_EQ(codes[4 + i], c.pixels[i].code)
          << "colour index " << c.colour_index << ", alpha " << c.pixels[i].alpha;
    }
  }
}

TEST(Block12Helpers, ThirdOfThreeRoundsToNearestForAllInputs) {
  int failures = 0;
  for (int a = 0; a < 256; a++) {
    for (int b = 0; b < 256; b++) {
      for (int c = 0; c < 256; c++) {
        if (third3(a, b, c) != (a + b + c + 1) / 3 && failures++ < 5) {
          ADD_FAILURE() << "third3(" << a << ", " << b << ", " << c << ") = " << third3(a, b, c);
        }
      }
    }
  }
  EXPECT_EQ(failures, 0);
}

TEST(Block12Helpers, ExtendedPalette) {
  uint8_t palette[24];
  build_extended_palette(0xF800, 0x07E0, 0x001F, palette);
  const Bytes expected{
      255, 0,   0,    // c0
      0,   255, 0,    // c1
      170, 85,  0,    // two thirds c0
      85,  170, 0,    // two thirds c1
      0,   0,   255,  // c2
      85,  85,  85,   // mean of the three
      128, 0,   128,  // half of c0 and c2, rounded up
      0,   128, 128,  // half of c1 and c2
  };
  EXPECT_EQ(Bytes(palette, palette + 24), expected) << "red, green, blue";
}

TEST(Block12Helpers, PackBothLayouts) {
  // every field distinct, and the indices that straddle a byte (pixels 2, 5,
  // 10, 13) have different bits on either side
  const uint8_t indices[16] = {1, 2, 5, 3, 4, 6, 7, 0, 0, 7, 1, 6, 2, 5, 4, 3};
  const uint8_t codes[16] = {15, 0, 1, 14, 2, 13, 3, 12, 4, 11, 5, 10, 6, 9, 7, 8};
  uint8_t record[12];
  pack_block_record12(0x1234, 0x0F0E, 0xABCD, false, indices, record);
  EXPECT_EQ(Bytes(record, record + 12),
            (Bytes{0x34, 0x12, 0x0E, 0x0F, 0xCD, 0xAB, 0x2A, 0xB9, 0xB8, 0x1C, 0xE5, 0x63}))
      << "three-endpoint layout: 48-bit string, pixel 0 first";
  pack_block_record12(0x0102, 0xFEDC, 0x5555, true, codes, record);
  EXPECT_EQ(Bytes(record, record + 12),
            (Bytes{0x02, 0x01, 0xDC, 0xFE, 0xF0, 0x1E, 0x2D, 0x3C, 0x4B, 0x5A, 0x69, 0x78}))
      << "alpha layout: even pixel in the high nibble, c2 not stored";
}

}  // namespace
