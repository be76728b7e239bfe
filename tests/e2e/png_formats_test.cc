// Every PNG colour type and bit depth the decoder accepts reaches the encoder
// as the same 8-bit RGBA pixels.
//
// Each case encodes a two-frame sequence: frame 0 in the format under test,
// frame 1 the pixels it should decode to, written as 8-bit RGBA. Change
// detection compares every byte, so the file has empty maps for frame 1 and
// the closing record exactly when both frames decoded to the same pixels.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

extern "C" {
#include "lodepng.h"
}

namespace e2e {
namespace {

const unsigned kSide = 8;  // rows of 1-, 2- and 4-bit samples fill whole bytes

struct Format {
  LodePNGColorType type;
  unsigned depth;
  const char* name;
};

// Sample values of pixel i: spread over the range so blocks are not uniform.
uint8_t sample(unsigned i, unsigned salt) { return static_cast<uint8_t>(i * (37 + 2 * salt) + 91 * salt); }

// A test picture in `format`: the raw samples for the PNG encoder and the
// 8-bit RGBA the decoder must turn them into. 16-bit samples are the 8-bit
// value times 257 (the decoder keeps the high byte); samples below 8 bits
// scale to v * 255 / (2^depth - 1).
struct Picture {
  Bytes raw;
  Image rgba{kSide, kSide, {0, 0, 0, 255}};
  std::vector<Rgba> palette;
};

Picture make_picture(const Format& f) {
  Picture pic;
  unsigned levels = f.depth < 8 ? 1u << f.depth : 256;
  if (f.type == LCT_PALETTE) {
    for (unsigned k = 0; k < levels; ++k) {
      uint8_t alpha = k % 3 == 0 ? 255 : static_cast<uint8_t>(k * 29 + 5);
      pic.palette.push_back({sample(k, 1), sample(k, 2), sample(k, 3), alpha});
    }
  }
  unsigned bits = 0, acc = 0;
  auto put_bits = [&](unsigned value, unsigned count) {
    acc = (acc << count) | value;
    bits += count;
    while (bits >= 8) {
      pic.raw.push_back(static_cast<uint8_t>(acc >> (bits - 8)));
      bits -= 8;
    }
  };
  auto put_sample = [&](uint8_t v8) {
    if (f.depth == 16) {
      put_bits(v8, 8);
      put_bits(v8, 8);
    } else {
      put_bits(v8, 8);
    }
  };
  for (unsigned i = 0; i < kSide * kSide; ++i) {
    unsigned x = i % kSide, y = i / kSide;
    uint8_t grey = sample(i, 0), r = sample(i, 1), g = sample(i, 2), b = sample(i, 3);
    uint8_t a = sample(i, 4);
    switch (f.type) {
      case LCT_GREY:
        if (f.depth < 8) {
          unsigned v = grey % levels;
          put_bits(v, f.depth);
          grey = static_cast<uint8_t>(v * 255 / (levels - 1));
        } else {
          put_sample(grey);
        }
        pic.rgba.set(x, y, {grey, grey, grey, 255});
        break;
      case LCT_RGB:
        put_sample(r), put_sample(g), put_sample(b);
        pic.rgba.set(x, y, {r, g, b, 255});
        break;
      case LCT_PALETTE: {
        unsigned index = (i * 7 + y) % levels;
        put_bits(index, f.depth);
        pic.rgba.set(x, y, pic.palette[index]);
        break;
      }
      case LCT_GREY_ALPHA:
        put_sample(grey), put_sample(a);
        pic.rgba.set(x, y, {grey, grey, grey, a});
        break;
      case LCT_RGBA:
        put_sample(r), put_sample(g), put_sample(b), put_sample(a);
        pic.rgba.set(x, y, {r, g, b, a});
        break;
      default:
        break;
    }
  }
  return pic;
}

// Encodes the raw samples as a PNG of exactly that colour type and depth.
Bytes encode_png(const Format& f, const Picture& pic) {
  LodePNGState state;
  lodepng_state_init(&state);
  state.encoder.auto_convert = 0;
  state.info_raw.colortype = f.type;
  state.info_raw.bitdepth = f.depth;
  state.info_png.color.colortype = f.type;
  state.info_png.color.bitdepth = f.depth;
  for (const Rgba& c : pic.palette) {
    lodepng_palette_add(&state.info_raw, c.r, c.g, c.b, c.a);
    lodepng_palette_add(&state.info_png.color, c.r, c.g, c.b, c.a);
  }
  unsigned char* png = nullptr;
  size_t size = 0;
  unsigned error = lodepng_encode(&png, &size, pic.raw.data(), kSide, kSide, &state);
  lodepng_state_cleanup(&state);
  Bytes bytes;
  if (error == 0) bytes.assign(png, png + size);
  free(png);
  EXPECT_EQ(error, 0u) << lodepng_error_text(error);
  return bytes;
}

TEST(PngFormats, EveryColourTypeAndDepthDecodesToTheSamePixels) {
  const Format formats[] = {
      {LCT_GREY, 1, "grey 1"},          {LCT_GREY, 2, "grey 2"},          {LCT_GREY, 4, "grey 4"},
      {LCT_GREY, 8, "grey 8"},          {LCT_GREY, 16, "grey 16"},        {LCT_RGB, 8, "RGB 8"},
      {LCT_RGB, 16, "RGB 16"},          {LCT_PALETTE, 1, "palette 1"},    {LCT_PALETTE, 2, "palette 2"},
      {LCT_PALETTE, 4, "palette 4"},    {LCT_PALETTE, 8, "palette 8"},    {LCT_GREY_ALPHA, 8, "grey+alpha 8"},
      {LCT_GREY_ALPHA, 16, "grey+alpha 16"}, {LCT_RGBA, 8, "RGBA 8"},     {LCT_RGBA, 16, "RGBA 16"},
  };
  for (const Format& f : formats) {
    SCOPED_TRACE(f.name);
    Picture pic = make_picture(f);
    Bytes png = encode_png(f, pic);

    // the fixture itself: the file has the intended format and the decoder
    // of the host's own lodepng gives the expected pixels
    unsigned w = 0, h = 0;
    LodePNGState inspect;
    lodepng_state_init(&inspect);
    ASSERT_EQ(lodepng_inspect(&w, &h, &inspect, png.data(), png.size()), 0u);
    EXPECT_EQ(inspect.info_png.color.colortype, f.type);
    EXPECT_EQ(inspect.info_png.color.bitdepth, f.depth);
    lodepng_state_cleanup(&inspect);
    unsigned char* decoded = nullptr;
    ASSERT_EQ(lodepng_decode32(&decoded, &w, &h, png.data(), png.size()), 0u);
    Bytes decoded_bytes(decoded, decoded + size_t{w} * h * 4);
    free(decoded);
    ASSERT_TRUE(same_bytes(decoded_bytes, pic.rgba.rgba)) << "test picture is wrong";

    TempDir dir;
    write_file(dir.file("f_0.png"), png);
    write_png(dir.file("f_1.png"), pic.rgba);
    RunResult r = run_encode({dir.file("f_X.png"), dir.file("out.velt"), "20"});
    EXPECT_EQ(r.exit_status, 0) << r.out;
    Bytes file = read_file(dir.file("out.velt"));
    // frame 0 stores all four blocks (map F0, 32 record bytes); frame 1 and
    // the closing record store none
    if (file.size() != 10u + 1 + 32 + 1 + 1) {
      ADD_FAILURE() << "file of " << file.size() << " bytes: the frames decoded differently";
      continue;
    }
    EXPECT_TRUE(same_bytes(Bytes(file.begin(), file.begin() + 11), concat({header(0x27, 2, 1, 1), {0xF0}})));
    EXPECT_TRUE(same_bytes(Bytes(file.begin() + 43, file.end()), {0x00, 0x00}));
  }
}

}  // namespace
}  // namespace e2e
