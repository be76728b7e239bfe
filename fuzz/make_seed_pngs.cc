// Writes the seed files of the two sandbox fuzzers: small PNGs of every colour
// type and bit depth, plain and interlaced, with and without tRNS, some 8x8
// (the size of the encoder fuzzer's valid frame 0) and some of another size,
// a multiple of 4 or not; and two 8x8 files that carry every ancillary chunk
// the decoder reads, and a few it skips.
// Usage: velt-fuzz-seed-pngs <png dir> <encoder dir>. The PNG module fuzzer
// takes the files as they are; the encoder fuzzer gets each one twice behind
// a control byte (fuzz/encoder_input.h), alone and as frame 1.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" {
#include "lodepng.h"
}

#include "encoder_input.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Format {
  const char* name;
  LodePNGColorType type;
  unsigned depth;
};

// every combination of colour type and bit depth that a PNG may have
const Format kFormats[] = {
    {"grey1", LCT_GREY, 1},
    {"grey2", LCT_GREY, 2},
    {"grey4", LCT_GREY, 4},
    {"grey8", LCT_GREY, 8},
    {"grey16", LCT_GREY, 16},
    {"rgb8", LCT_RGB, 8},
    {"rgb16", LCT_RGB, 16},
    {"palette1", LCT_PALETTE, 1},
    {"palette2", LCT_PALETTE, 2},
    {"palette4", LCT_PALETTE, 4},
    {"palette8", LCT_PALETTE, 8},
    {"grey_alpha8", LCT_GREY_ALPHA, 8},
    {"grey_alpha16", LCT_GREY_ALPHA, 16},
    {"rgba8", LCT_RGBA, 8},
    {"rgba16", LCT_RGBA, 16},
};

struct Size {
  unsigned width, height;
};

// beside 8x8, each file gets one of these in turn: multiples of 4 and not
const Size kOtherSizes[] = {{1, 1},  {4, 4},  {3, 5}, {12, 4}, {7, 9},
                            {4, 12}, {16, 8}, {9, 2}, {20, 12}};

const unsigned kFps = 20;

uint8_t level(unsigned x, unsigned y) { return uint8_t(x * 37 + y * 91 + x * y * 13); }

// A palette entry: distinct colours, translucent ones when `alpha` is set.
void palette_entry(unsigned i, bool alpha, uint8_t rgba[4]) {
  rgba[0] = uint8_t(i * 53);
  rgba[1] = uint8_t(i * 101 + 7);
  rgba[2] = uint8_t(i * 197 + 3);
  rgba[3] = alpha ? uint8_t(i * 67) : 255;
}

unsigned palette_size(unsigned depth) { return depth == 8 ? 40 : 1u << depth; }

// The picture as RGBA, in colours the format holds: grey for the grey
// types, palette entries for the palette ones, opaque without alpha.
Bytes picture(const Format& format, bool transparency, Size size) {
  Bytes rgba(size_t{size.width} * size.height * 4);
  for (unsigned y = 0; y < size.height; ++y)
    for (unsigned x = 0; x < size.width; ++x) {
      uint8_t* p = &rgba[(size_t{y} * size.width + x) * 4];
      const uint8_t v = level(x, y);
      if (format.type == LCT_PALETTE) {
        palette_entry(v % palette_size(format.depth), transparency, p);
        continue;
      }
      const bool grey = format.type == LCT_GREY || format.type == LCT_GREY_ALPHA;
      p[0] = v;
      p[1] = grey ? v : uint8_t(v * 3);
      p[2] = grey ? v : uint8_t(255 - v);
      const bool has_alpha = format.type == LCT_GREY_ALPHA || format.type == LCT_RGBA;
      p[3] = has_alpha ? uint8_t((x + y) % 3 == 0 ? 0 : x * y * 29 + 64) : 255;
    }
  return rgba;
}

// A channel value of `rgba` at the format's depth, as tRNS stores it.
unsigned at_depth(uint8_t value, unsigned depth) {
  return depth == 16 ? value * 257u : value >> (8 - depth);
}

bool encode(const Bytes& rgba, Size size, LodePNGState* state, Bytes* png) {
  state->info_raw.colortype = LCT_RGBA;
  state->info_raw.bitdepth = 8;
  state->encoder.auto_convert = 0;
  unsigned char* out = nullptr;
  size_t out_size = 0;
  const unsigned error =
      lodepng_encode(&out, &out_size, rgba.data(), size.width, size.height, state);
  if (error != 0) {
    fprintf(stderr, "velt-fuzz-seed-pngs: %s\n", lodepng_error_text(error));
    return false;
  }
  png->assign(out, out + out_size);
  free(out);
  return true;
}

bool make_png(const Format& format, bool transparency, bool interlaced, Size size, Bytes* png) {
  const Bytes rgba = picture(format, transparency, size);
  LodePNGState state;
  lodepng_state_init(&state);
  LodePNGColorMode& color = state.info_png.color;
  color.colortype = format.type;
  color.bitdepth = format.depth;
  state.info_png.interlace_method = interlaced ? 1 : 0;
  if (format.type == LCT_PALETTE) {
    for (unsigned i = 0; i < palette_size(format.depth); ++i) {
      uint8_t entry[4];
      palette_entry(i, transparency, entry);
      lodepng_palette_add(&color, entry[0], entry[1], entry[2], entry[3]);
    }
  } else if (transparency) {
    // the colour of the top-left pixel becomes the transparent one
    color.key_defined = 1;
    color.key_r = at_depth(rgba[0], format.depth);
    color.key_g = at_depth(rgba[1], format.depth);
    color.key_b = at_depth(rgba[2], format.depth);
  }
  const bool made = encode(rgba, size, &state, png);
  lodepng_state_cleanup(&state);
  return made;
}

void add_unknown_chunk(LodePNGInfo* info, const char* type, const Bytes& data) {
  lodepng_chunk_create(&info->unknown_chunks_data[1], &info->unknown_chunks_size[1],
                       unsigned(data.size()), type, data.data());
}

// 8x8 files with ancillary chunks: texts of every kind (compressed or not),
// tIME, pHYs, bKGD, gAMA, cHRM, sRGB and sBIT on an RGBA picture; iCCP,
// sPLT and hIST, which the decoder skips, on a palette picture.
bool make_ancillary_png(bool palette, Bytes* png) {
  const Format format = palette ? Format{"palette8", LCT_PALETTE, 8} : Format{"rgba8", LCT_RGBA, 8};
  const Size size = {8, 8};
  LodePNGState state;
  lodepng_state_init(&state);
  LodePNGInfo& info = state.info_png;
  info.color.colortype = format.type;
  info.color.bitdepth = format.depth;
  state.encoder.text_compression = palette ? 0 : 1;
  lodepng_add_text(&info, "Title", "seed");
  lodepng_add_itext(&info, "Comment", "en", "Comment", "a seed for the fuzzers");
  if (palette) {
    for (unsigned i = 0; i < palette_size(format.depth); ++i) {
      uint8_t entry[4];
      palette_entry(i, false, entry);
      lodepng_palette_add(&info.color, entry[0], entry[1], entry[2], entry[3]);
    }
    Bytes profile(132, 0);
    const char rgb_space[] = "RGB ";
    for (int i = 0; i < 4; ++i) profile[16 + i] = uint8_t(rgb_space[i]);
    lodepng_set_icc(&info, "profile", profile.data(), unsigned(profile.size()));
    Bytes suggested = {'s', 0, 8};
    for (int i = 0; i < 4; ++i)
      suggested.insert(suggested.end(), {uint8_t(i * 60), 9, 200, 255, 0, 1});
    add_unknown_chunk(&info, "sPLT", suggested);
    add_unknown_chunk(&info, "hIST", Bytes(2 * palette_size(format.depth), 1));
  } else {
    info.time_defined = 1;
    info.time = {2024, 2, 29, 23, 59, 60};
    info.phys_defined = 1;
    info.phys_x = info.phys_y = 2835;
    info.phys_unit = 1;
    info.background_defined = 1;
    info.background_r = 10;
    info.background_g = 20;
    info.background_b = 30;
    info.gama_defined = 1;
    info.gama_gamma = 45455;
    info.chrm_defined = 1;
    info.chrm_white_x = 31270;
    info.chrm_white_y = 32900;
    info.chrm_red_x = 64000;
    info.chrm_red_y = 33000;
    info.chrm_green_x = 30000;
    info.chrm_green_y = 60000;
    info.chrm_blue_x = 15000;
    info.chrm_blue_y = 6000;
    info.srgb_defined = 1;
    info.srgb_intent = 0;
    info.sbit_defined = 1;
    info.sbit_r = info.sbit_g = info.sbit_b = 5;
    info.sbit_a = 8;
  }
  const bool made = encode(picture(format, false, size), size, &state, png);
  lodepng_state_cleanup(&state);
  return made;
}

bool write_file(const std::string& path, const Bytes& bytes) {
  FILE* out = fopen(path.c_str(), "wb");
  const bool written = out != nullptr && fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  if (out != nullptr && fclose(out) != 0) return false;
  if (!written) fprintf(stderr, "velt-fuzz-seed-pngs: cannot write %s\n", path.c_str());
  return written;
}

// The file for the PNG module fuzzer, and two for the encoder fuzzer: the
// picture as frame 0, and as frame 1 after the valid frame 0.
bool write_seeds(const std::string& png_dir, const std::string& encoder_dir,
                 const std::string& name, const Bytes& png, unsigned index) {
  if (!write_file(png_dir + "/" + name + ".png", png)) return false;
  for (const bool after_valid_frame : {false, true}) {
    Bytes input = {
        encoder_control_byte(int32_t((index + after_valid_frame) % 4), after_valid_frame, kFps)};
    input.insert(input.end(), png.begin(), png.end());
    const std::string stem = encoder_dir + "/" + name + (after_valid_frame ? "-frame1" : "-frame0");
    if (!write_file(stem + ".in", input)) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s <png dir> <encoder dir>\n", argv[0]);
    return 2;
  }
  unsigned index = 0;
  for (const Format& format : kFormats) {
    const bool takes_trns =
        format.type == LCT_GREY || format.type == LCT_RGB || format.type == LCT_PALETTE;
    for (const bool transparency : {false, true}) {
      if (transparency && !takes_trns) continue;
      for (const bool interlaced : {false, true}) {
        for (const Size size :
             {Size{8, 8}, kOtherSizes[index % (sizeof kOtherSizes / sizeof kOtherSizes[0])]}) {
          const std::string name = std::string(format.name) + (transparency ? "_trns" : "") +
                                   (interlaced ? "_interlaced" : "") + "_" +
                                   std::to_string(size.width) + "x" + std::to_string(size.height);
          Bytes png;
          if (!make_png(format, transparency, interlaced, size, &png) ||
              !write_seeds(argv[1], argv[2], name, png, index++))
            return 1;
        }
      }
    }
  }
  for (const bool palette : {false, true}) {
    Bytes png;
    if (!make_ancillary_png(palette, &png) ||
        !write_seeds(argv[1], argv[2], palette ? "ancillary_palette" : "ancillary_rgba", png,
                     index++))
      return 1;
  }
  return 0;
}
