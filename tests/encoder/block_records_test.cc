// Block preparation and colour block records: golden bytes for the uniform,
// transparent and colour records, the alpha thresholds and the colour helpers.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "block_encoding.h"
#include "block_pixels.h"

namespace {

using namespace block_pixels;

const Pixel kClear{12, 34, 56, 0};

// 16 distinct colours with the given alpha per pixel.
Block varied(int (*alpha)(int)) {
  Block b;
  for (int i = 0; i < 16; i++) {
    b[i] = Pixel{uint8_t(i * 16), uint8_t(255 - i * 13), uint8_t(i * 7 + 3), uint8_t(alpha(i))};
  }
  return b;
}

void expect_records(const std::vector<RecordCase>& cases) {
  for (const RecordCase& c : cases) {
    EXPECT_EQ(encode(c.block, c.mode), c.expected) << c.why << " (mode " << c.mode << ")";
  }
}

TEST(ColourHelpers, QuantizeListedValues) {
  const int q5[][2] = {{4, 0}, {5, 1}, {127, 15}, {128, 16}, {250, 30}, {251, 31}, {255, 31}};
  const int q6[][2] = {{2, 0}, {3, 1}, {127, 31}, {128, 32}, {253, 63}, {255, 63}};
  for (auto& c : q5) EXPECT_EQ(quantize5(c[0]), c[1]) << "quantize5(" << c[0] << ")";
  for (auto& c : q6) EXPECT_EQ(quantize6(c[0]), c[1]) << "quantize6(" << c[0] << ")";
}

TEST(ColourHelpers, QuantizeAndMixesRoundToNearestForAllInputs) {
  for (int v = 0; v < 256; v++) {
    // the defining forms, with the doubles nearest to 31 / 255 and 63 / 255
    ASSERT_EQ(quantize5(v), int(v * 0.12156862745098039 + 0.5)) << v;
    ASSERT_EQ(quantize6(v), int(v * 0.24705882352941178 + 0.5)) << v;
  }
  for (int a = 0; a < 256; a++) {
    for (int b = 0; b < 256; b++) {
      // the defining forms: the mix in double precision, plus 0.5, truncated
      ASSERT_EQ(third(a, b), int((2 * a + b) / 3.0 + 0.5)) << a << ", " << b;
      ASSERT_EQ(half(a, b), int((a + b) * 0.5 + 0.5)) << a << ", " << b;
    }
  }
}

TEST(ColourHelpers, PackAndUnpackRgb565) {
  struct {
    Pixel in;
    uint16_t packed;
    uint8_t r, g, b;  // unpacked again
  } cases[] = {
      {grey(128), 0x8410, 132, 130, 132},  // 5-bit 16 and 6-bit 32 replicate differently
      {grey(90), 0x5ACB, 90, 89, 90},
      {kWhite, 0xFFFF, 255, 255, 255},
      {kRed, 0xF800, 255, 0, 0},  // red in the top bits
      {Pixel{0, 255, 0, 255}, 0x07E0, 0, 255, 0},
      {kBlue, 0x001F, 0, 0, 255},
  };
  for (auto& c : cases) {
    uint16_t packed = pack_rgb565(c.in.r, c.in.g, c.in.b);
    EXPECT_EQ(packed, c.packed);
    uint8_t rgb[3];
    unpack_rgb565(packed, rgb);
    EXPECT_EQ(Bytes(rgb, rgb + 3), (Bytes{c.r, c.g, c.b})) << std::hex << packed;
  }
}

TEST(BlockPreparation, FetchReadsFourRowsAtTheFrameStride) {
  const uint32_t width = 12, height = 8;
  uint8_t frame[width * height * 4];
  for (uint32_t i = 0; i < sizeof frame; i++) frame[i] = uint8_t(i * 7);
  BlockState state;
  fetch_block(&state, frame, width, 8, 4);
  for (int r = 0; r < 4; r++) {
    const uint8_t* row = frame + 4 * ((4 + r) * width + 8);
    EXPECT_EQ(Bytes(state.block_rgba + 16 * r, state.block_rgba + 16 * r + 16),
              Bytes(row, row + 16))
        << "row " << r;
  }
}

TEST(BlockRecords, UniformAndTransparent) {
  const Bytes transparent8{0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  const Bytes transparent12 = repeat({0, 0, 0, 0}, 0x44, 8);
  expect_records({
      {"uniform white", 0, uniform(kWhite), {0xFF, 0xFF, 0, 0, 0, 0, 0, 0}},
      {"uniform white, equal endpoints", 1, uniform(kWhite), {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}},
      {"uniform white, 12 bytes", 2, uniform(kWhite), repeat({0xFF, 0xFF}, 0, 10)},
      {"uniform white, alpha layout", 3, uniform(kWhite),
       repeat({0xFF, 0xFF, 0xFF, 0xFF}, 0x33, 8)},
      {"uniform black", 0, uniform(kBlack), Bytes(8, 0)},
      {"uniform red, little-endian", 0, uniform(kRed), {0x00, 0xF8, 0, 0, 0, 0, 0, 0}},
      {"uniform green", 0, uniform(Pixel{0, 255, 0, 255}), {0xE0, 0x07, 0, 0, 0, 0, 0, 0}},
      {"uniform blue", 0, uniform(kBlue), {0x1F, 0x00, 0, 0, 0, 0, 0, 0}},
      {"plain mode has no transparent record", 0, uniform(grey(128, 0)),
       {0x10, 0x84, 0, 0, 0, 0, 0, 0}},
      {"alpha 128 is visible", 1, uniform(grey(128, 128)), {0x10, 0x84, 0x10, 0x84, 0, 0, 0, 0}},
      {"uniform alpha 127", 1, uniform(grey(128, 127)), transparent8},
      {"all alphas 0..127", 1, varied([](int i) { return i * 8 + 7; }), transparent8},
      {"all alphas 0..31", 3, varied([](int i) { return i * 2 + 1; }), transparent12},
      {"uniform alpha 31", 3, uniform(grey(128, 31)), transparent12},
  });
}

TEST(BlockRecords, AlphaLayoutUniformBands) {
  const struct {
    int alpha;
    uint8_t code_byte;
  } bands[] = {{255, 0x33}, {224, 0x33}, {223, 0x11}, {200, 0x11},
               {96, 0x11},  {95, 0x00},  {32, 0x00}};
  for (auto& band : bands) {
    EXPECT_EQ(encode(uniform(Pixel{255, 0, 0, uint8_t(band.alpha)}), 3),
              repeat({0x00, 0xF8, 0x00, 0xF8}, band.code_byte, 8))
        << "alpha " << band.alpha;
  }
}

TEST(BlockPreparation, AlphaClassificationAndColourList) {
  BlockState state;
  // five pixels at or above 128, the others just below or far below
  Block five = uniform(grey(50, 127));
  const int visible[] = {1, 4, 6, 11, 15};
  for (int k = 0; k < 5; k++) {
    five[visible[k]] = Pixel{uint8_t(10 * k), uint8_t(k), 200, uint8_t(128 + 30 * k)};
  }
  five[0].a = 0;
  encode(five, 1, &state);
  ASSERT_EQ(state.colour_count, 5);
  EXPECT_TRUE(state.has_transparency);
  for (int k = 0; k < 5; k++) {
    EXPECT_EQ(Bytes(state.colour_list + 3 * k, state.colour_list + 3 * k + 3),
              (Bytes{uint8_t(10 * k), uint8_t(k), 200}))
        << "entry " << k;
  }
  for (int i = 0; i < 16; i++) {
    EXPECT_EQ(state.alpha_flags[i], five[i].a >= 128) << "pixel " << i;
  }

  // the same state, next block: plain mode lists every pixel whatever its
  // alpha, and nothing carries over from the block before
  encode(varied([](int i) { return i; }), 0, &state);
  EXPECT_EQ(state.colour_count, 16);
  EXPECT_FALSE(state.has_transparency);

  encode(varied([](int i) { return 128 + i; }), 1, &state);
  EXPECT_EQ(state.colour_count, 16);
  EXPECT_FALSE(state.has_transparency);

  // the 12-byte threshold is 32
  Block cut = varied([](int i) { return i % 2 ? 32 : 31; });
  EXPECT_EQ(encode(cut, 3, &state).size(), 12u);
  EXPECT_EQ(state.colour_count, 8);
  EXPECT_TRUE(state.has_transparency);
  EXPECT_EQ(state.colour_list[0], cut[1].r);
}

Block swap_black_white(Block b) {
  for (Pixel& p : b) {
    if (p.r == 255 && p.g == 255 && p.b == 255) {
      p = kBlack;
    } else if (p.r == 0 && p.g == 0 && p.b == 0) {
      p = kWhite;
    }
  }
  return b;
}

TEST(ColourBlockRecords, Examples) {
  const Pixel W = kWhite, K = kBlack, R = kRed, C = kClear;
  const Pixel G90 = grey(90);
  const Block greys =
      rows({W, W, K, K}, {W, K, W, K}, {K, K, K, K}, {grey(170), grey(170), grey(85), grey(85)});
  const Block g90 = rows({G90, G90, G90, G90}, {G90, G90, G90, G90}, {G90, G90, G90, G90},
                         {G90, W, grey(30), grey(30)});
  const Block stripes = rows({W, W, K, K}, {W, W, K, K}, {W, W, K, K}, {W, W, K, K});
  expect_records({
      {"white/black pair, greys on the thirds", 0, greys,
       {0xFF, 0xFF, 0, 0, 0x05, 0x11, 0x55, 0xAF}},
      {"larger endpoint first", 0, swap_black_white(greys),
       {0xFF, 0xFF, 0, 0, 0x50, 0x44, 0x00, 0xAF}},
      {"sum of distances, not squares", 0, g90,
       {0xFF, 0xFF, 0xCB, 0x5A, 0x55, 0x55, 0x55, 0x45}},
      {"one RGB, differing alpha", 0, with(uniform(R), 9, Pixel{255, 0, 0, 7}),
       {0x00, 0xF8, 0x00, 0xF8, 0, 0, 0, 0}},
      {"one RGB, visible alphas: equal endpoints", 1, with(uniform(W), 3, grey(255, 128)),
       {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}},
      {"three-colour mode, half entry unused, clear pixels 3", 1,
       rows({W, W, K, K}, {K, K, W, W}, {C, C, C, C}, {W, K, W, K}),
       {0x00, 0x00, 0xFF, 0xFF, 0x50, 0x05, 0xFF, 0x44}},
      {"equal endpoints force three-colour mode", 1,
       rows({R, R, C, C}, {C, grey(255, 127), R, R}, {R, R, R, R}, {R, R, R, R}),
       {0x00, 0xF8, 0x00, 0xF8, 0x0F, 0xF0, 0x00, 0x00}},
      {"opaque two colours: four-colour mode", 1, stripes,
       {0xFF, 0xFF, 0, 0, 0x05, 0x05, 0x05, 0x05}},
      {"alpha 128 keeps four-colour mode", 1, with(stripes, 15, grey(0, 128)),
       {0xFF, 0xFF, 0, 0, 0x05, 0x05, 0x05, 0x05}},
      {"alpha 127 gives three-colour mode", 1, with(stripes, 15, grey(0, 127)),
       {0, 0, 0xFF, 0xFF, 0x50, 0x50, 0x50, 0x53}},
      // (red, black) and (black, blue) tie; the pair met first stays
      {"tie: red listed first", 0, with(with(uniform(K), 0, R), 15, kBlue),
       {0x00, 0xF8, 0, 0, 0x15, 0x55, 0x55, 0x55}},
      {"tie: blue listed first", 0, with(with(uniform(K), 0, kBlue), 15, R),
       {0x1F, 0x00, 0, 0, 0x15, 0x55, 0x55, 0x55}},
  });
}

Bytes entry(const uint8_t* palette, int p) { return Bytes(palette + 3 * p, palette + 3 * p + 3); }

TEST(ColourBlockPalette, EntriesAndIndexTies) {
  uint8_t palette[12], indices[16];
  uint8_t rgba[64] = {};
  auto set_pixel = [&](int i, Pixel p) {
    rgba[4 * i] = p.r, rgba[4 * i + 1] = p.g, rgba[4 * i + 2] = p.b, rgba[4 * i + 3] = p.a;
  };

  build_block_palette(0xF800, 0x001F, false, palette);
  EXPECT_EQ(entry(palette, 2), (Bytes{170, 0, 85}));
  EXPECT_EQ(entry(palette, 3), (Bytes{85, 0, 170}));
  set_pixel(0, Pixel{128, 0, 128, 255});  // 3613 from entries 2 and 3: lower index wins
  set_pixel(1, Pixel{255, 0, 0, 0});      // alpha plays no part in four-colour mode
  assign_indices(rgba, palette, false, indices);
  EXPECT_EQ(indices[0], 2);
  EXPECT_EQ(indices[1], 0);

  build_block_palette(0x0000, 0xFFFF, true, palette);
  EXPECT_EQ(entry(palette, 2), (Bytes{128, 128, 128}));
  EXPECT_EQ(entry(palette, 3), (Bytes{0, 0, 0}));

  // entry 3 is black but never chosen by distance; alpha below 128 forces it
  build_block_palette(0x001F, 0xF800, true, palette);
  set_pixel(0, kBlack);
  set_pixel(1, Pixel{0, 0, 255, 127});
  assign_indices(rgba, palette, true, indices);
  EXPECT_EQ(indices[0], 2);
  EXPECT_EQ(indices[1], 3);
}

}  // namespace
