// PNG decoding inside the sandboxed PNG module, checked against the same
// decoder run natively on the same files.
#include "sandboxed_png.h"

#include <sys/stat.h>

#include <cstdlib>

#include "e2e_support.h"
#include "png_bomb.h"

extern "C" {
#include "lodepng.h"
}

namespace {

using e2e::Bytes;
using e2e::TempDir;

// Writes `rgba` as a PNG of the given colour type and depth.
void write_png_as(const std::string& path, const Bytes& rgba, unsigned w, unsigned h,
                  LodePNGColorType type, unsigned depth) {
  LodePNGState state;
  lodepng_state_init(&state);
  state.info_raw.colortype = LCT_RGBA;
  state.info_raw.bitdepth = 8;
  state.info_png.color.colortype = type;
  state.info_png.color.bitdepth = depth;
  state.encoder.auto_convert = 0;
  unsigned char* png = nullptr;
  size_t size = 0;
  unsigned error = lodepng_encode(&png, &size, rgba.data(), w, h, &state);
  lodepng_state_cleanup(&state);
  ASSERT_EQ(error, 0u) << lodepng_error_text(error);
  e2e::write_file(path, Bytes(png, png + size));
  free(png);
}

Bytes native_decode(const std::string& path) {
  unsigned char* pixels = nullptr;
  unsigned w = 0, h = 0;
  EXPECT_EQ(lodepng_decode32_file(&pixels, &w, &h, path.c_str()), 0u);
  Bytes rgba(pixels, pixels + size_t{w} * h * 4);
  free(pixels);
  return rgba;
}

TEST(SandboxedPng, DecodesEveryColourTypeAsTheNativeDecoderDoes) {
  TempDir dir;
  Bytes grey_ramp;
  for (unsigned i = 0; i < 8 * 4; ++i) {
    uint8_t v = uint8_t(i * 8);
    grey_ramp.insert(grey_ramp.end(), {v, v, v, uint8_t(255 - v)});
  }
  struct Case {
    const char* name;
    LodePNGColorType type;
    unsigned depth;
  };
  const Case cases[] = {{"rgba8", LCT_RGBA, 8},
                        {"rgba16", LCT_RGBA, 16},
                        {"grey4", LCT_GREY, 4},
                        {"grey_alpha8", LCT_GREY_ALPHA, 8},
                        {"rgb8", LCT_RGB, 8}};
  SandboxedPngDecoder decoder;
  for (const Case& c : cases) {
    std::string path = dir.file(std::string(c.name) + ".png");
    write_png_as(path, grey_ramp, 8, 4, c.type, c.depth);
    DecodedPicture picture;
    std::string error;
    ASSERT_TRUE(decoder.decode(path, 1020, &picture, &error)) << c.name << ": " << error;
    EXPECT_EQ(picture.width, 8u);
    EXPECT_EQ(picture.height, 4u);
    EXPECT_TRUE(e2e::same_bytes(picture.rgba, native_decode(path))) << c.name;
  }
}

TEST(SandboxedPng, RefusesWhatItCannotDecode) {
  TempDir dir;
  e2e::write_png(dir.file("wide.png"), e2e::Image(1024, 4, e2e::kRed));
  e2e::write_file(dir.file("junk.png"), {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g', '!'});
  e2e::write_file(dir.file("bomb.png"), make_png_bomb(PngBombHeader(), 64u << 20));
  struct Case {
    std::string path;
    std::string error;
  };
  const Case cases[] = {
      {dir.file("wide.png"), ": the picture is larger than the animation's frames can be"},
      {dir.file("junk.png"), ": not a valid PNG file: PNG file is smaller than a PNG header"},
      {dir.file("missing.png"), ": cannot open the file"},
      // a 4x4 header over 64 MiB of image data: cut off at 68 bytes
      {dir.file("bomb.png"),
       ": not a valid PNG file: its image data inflates to more than its header allows"},
  };
  SandboxedPngDecoder decoder;
  for (const Case& c : cases) {
    DecodedPicture picture;
    std::string error;
    EXPECT_FALSE(decoder.decode(c.path, 1020, &picture, &error));
    EXPECT_EQ(error, c.path + c.error);
  }
  // the instance stays usable after refusals
  e2e::write_png(dir.file("ok.png"), e2e::Image(4, 4, e2e::kBlue));
  DecodedPicture picture;
  std::string error;
  EXPECT_TRUE(decoder.decode(dir.file("ok.png"), 1020, &picture, &error)) << error;
}

TEST(SandboxedPng, TakesPathsLongerThanTheEncodersFrameLimit) {
  TempDir dir;
  std::string deep = dir.path();
  while (deep.size() < 300) {
    deep += "/" + std::string(40, 'd');
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  }
  e2e::write_png(deep + "/f.png", e2e::Image(4, 4, e2e::kGreen));
  SandboxedPngDecoder decoder;
  DecodedPicture picture;
  std::string error;
  ASSERT_TRUE(decoder.decode(deep + "/f.png", 1020, &picture, &error)) << error;
  EXPECT_EQ(picture.rgba[1], 255);
}

}  // namespace
