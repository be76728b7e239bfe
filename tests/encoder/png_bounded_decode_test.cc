// Bounded PNG decoding: the same result as lodepng_decode32 on every file
// whose image data inflates no further than its header allows, and error 109
// as soon as it inflates past that.
#include "png_bounded_decode.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "png_bomb.h"
#include "png_decoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Format {
  LodePNGColorType type;
  unsigned depth, width, height;
  bool interlaced;
  bool colour_key;  // a tRNS colour key (palettes always carry alpha in tRNS)
};

// A PNG of exactly `f`, with varied samples and the first pixel's colour as key.
Bytes encode(const Format& f) {
  LodePNGState state;
  lodepng_state_init(&state);
  LodePNGColorMode& mode = state.info_png.color;
  mode.colortype = f.type;
  mode.bitdepth = f.depth;
  for (unsigned k = 0; f.type == LCT_PALETTE && k < 1u << f.depth; ++k) {
    lodepng_palette_add(&mode, uint8_t(k * 53), uint8_t(k * 97 + 11), uint8_t(200 - k),
                        uint8_t(k * 71));
  }
  Bytes raw(lodepng_get_raw_size(f.width, f.height, &mode));
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = uint8_t(i * 37 + i / 7 + 5);
  if (f.colour_key) {
    auto sample = [&](unsigned k) {
      return f.depth == 16 ? raw[2 * k] << 8 | raw[2 * k + 1] : raw[k] >> (8 - f.depth);
    };
    mode.key_defined = 1;
    mode.key_r = sample(0);
    mode.key_g = f.type == LCT_RGB ? sample(1) : mode.key_r;
    mode.key_b = f.type == LCT_RGB ? sample(2) : mode.key_r;
  }
  state.info_png.interlace_method = f.interlaced;
  state.encoder.auto_convert = 0;
  lodepng_color_mode_copy(&state.info_raw, &mode);
  unsigned char* png = nullptr;
  size_t size = 0;
  EXPECT_EQ(lodepng_encode(&png, &size, raw.data(), f.width, f.height, &state), 0u);
  lodepng_state_cleanup(&state);
  Bytes bytes(png, png + size);
  free(png);
  return bytes;
}

// Where the (single) IDAT chunk of a file from lodepng's encoder starts.
size_t idat_at(const Bytes& png) {
  size_t at = 8;
  while (lodepng_chunk_type_equals(&png[at], "IDAT") == 0) {
    at += 12 + lodepng_chunk_length(&png[at]);
  }
  return at;
}

// How many bytes the file's image data inflates to.
size_t inflated_size(const Bytes& png) {
  const unsigned char* idat = &png[idat_at(png)];
  unsigned char* out = nullptr;
  size_t size = 0;
  EXPECT_EQ(lodepng_zlib_decompress(&out, &size, idat + 8, lodepng_chunk_length(idat),
                                    &lodepng_default_decompress_settings),
            0u);
  free(out);
  return size;
}

// A chunk of `type` with `data`, CRC included.
Bytes chunk(const char* type, const uint8_t* data, size_t size) {
  Bytes c(12 + size);
  for (int k = 0; k < 4; ++k) c[k] = uint8_t(size >> (24 - 8 * k));
  memcpy(&c[4], type, 4);
  if (size > 0) memcpy(&c[8], data, size);
  lodepng_chunk_generate_crc(c.data());
  return c;
}

// The file with only the first half of its image data stream.
Bytes cut_stream(const Bytes& png) {
  size_t at = idat_at(png), length = lodepng_chunk_length(&png[at]);
  Bytes cut(png.begin(), png.begin() + at);
  Bytes idat = chunk("IDAT", &png[at + 8], length / 2);
  cut.insert(cut.end(), idat.begin(), idat.end());
  cut.insert(cut.end(), png.begin() + at + 12 + length, png.end());
  return cut;
}

// The file with a text chunk that has no keyword separator before its IEND.
Bytes with_bad_text(Bytes png) {
  const Bytes text(100, 'a');
  Bytes c = chunk("tEXt", text.data(), text.size());
  png.insert(png.end() - 12, c.begin(), c.end());
  return png;
}

struct Decoded {
  unsigned error, width, height;
  Bytes rgba;
  bool operator==(const Decoded& o) const {
    return error == o.error && width == o.width && height == o.height && rgba == o.rgba;
  }
};

template <typename Decode>
Decoded run(Decode decode, const Bytes& png) {
  unsigned char* pixels = nullptr;
  Decoded d{0, 0, 0, {}};
  d.error = decode(&pixels, &d.width, &d.height, png.data(), png.size());
  if (pixels != nullptr) d.rgba.assign(pixels, pixels + size_t{d.width} * d.height * 4);
  free(pixels);
  return d;
}

const unsigned kAsLodepng = ~0u;  // some failure, the one lodepng_decode32 reports

TEST(BoundedPngDecode, MatchesLodepngUpToTheHeadersSizeAndStopsPastIt) {
  const Format formats[] = {
      {LCT_GREY, 1, 13, 7, false, false},      {LCT_GREY, 1, 13, 7, true, true},
      {LCT_GREY, 2, 5, 3, true, false},        {LCT_GREY, 4, 9, 9, false, true},
      {LCT_GREY, 8, 1, 1, true, false},        {LCT_GREY, 8, 4, 1, true, true},
      {LCT_GREY, 16, 3, 5, true, false},       {LCT_RGB, 8, 5, 1, true, true},
      {LCT_RGB, 8, 6, 2, false, false},        {LCT_RGB, 16, 7, 7, true, true},
      {LCT_PALETTE, 1, 2, 9, true, false},     {LCT_PALETTE, 2, 4, 4, false, false},
      {LCT_PALETTE, 4, 11, 3, true, false},    {LCT_PALETTE, 8, 17, 17, true, false},
      {LCT_GREY_ALPHA, 8, 3, 3, false, false}, {LCT_GREY_ALPHA, 16, 8, 8, true, false},
      {LCT_RGBA, 8, 2, 2, true, false},        {LCT_RGBA, 8, 4, 4, false, false},
      {LCT_RGBA, 16, 10, 1, true, false},
  };
  struct Case {
    std::string why;
    Bytes png;
    unsigned error;  // of decode_png_rgba; lodepng_decode32 agrees unless it is 109
  };
  std::vector<Case> cases;
  for (const Format& f : formats) {
    const std::string name = "type " + std::to_string(f.type) + " depth " +
                             std::to_string(f.depth) + " " + std::to_string(f.width) + "x" +
                             std::to_string(f.height) + (f.interlaced ? " interlaced" : "") + ": ";
    const Bytes valid = encode(f);
    const size_t n = inflated_size(valid);
    const PngBombHeader header{f.width, f.height, uint8_t(f.type), uint8_t(f.depth), f.interlaced};
    cases.push_back({name + "valid file", valid, 0});
    cases.push_back({name + "truncated stream", cut_stream(valid), kAsLodepng});
    cases.push_back({name + "zeros of the exact size", make_png_bomb(header, n), 0});
    cases.push_back({name + "one byte short", make_png_bomb(header, n - 1), 91});
    cases.push_back({name + "one byte over", make_png_bomb(header, n + 1), 109});
  }
  cases.push_back(
      {"64 MiB behind a 4x4 header", make_png_bomb({4, 4, 6, 8, false}, 64u << 20), 109});
  cases.push_back(
      {"64 MiB behind an interlaced 64x64", make_png_bomb({64, 64, 6, 8, true}, 64u << 20), 109});
  cases.push_back({"text chunk lodepng_decode32 skips", with_bad_text(encode(formats[0])), 0});
  cases.push_back({"sides too large for a size_t",
                   make_png_bomb({0x7fffffff, 0x7fffffff, 6, 16, false}, 1), 92});
  cases.push_back({"not a PNG", Bytes(40, 'x'), 28});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    Decoded bounded = run(decode_png_rgba, c.png);
    if (c.error != kAsLodepng) {
      EXPECT_EQ(bounded.error, c.error) << lodepng_error_text(bounded.error);
    }
    if (bounded.error != 0) {
      EXPECT_EQ(bounded, (Decoded{bounded.error, 0, 0, {}}));  // nothing kept
    }
    if (c.error != 109) {
      Decoded lodepng = run(lodepng_decode32, c.png);
      EXPECT_EQ(bounded.error, lodepng.error);
      // lodepng_decode32 keeps the header's sizes on failure
      if (lodepng.error == 0) {
        EXPECT_EQ(bounded, lodepng);
      }
      EXPECT_TRUE(c.error != kAsLodepng || lodepng.error != 0);
    }
  }
}

}  // namespace
