// Compares the encoder's index assignment (assign_indices, assign_indices12,
// assign_pixel_codes) with the plain oracle of index_oracle.h on many blocks
// and palettes in all four modes: random, photograph-like and few-colour
// pixels, pixels at the alpha thresholds, and endpoints taken from the block,
// anywhere, equal or one step apart (where palette entries tie and the
// lowest index must win).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "block_encoding.h"
#include "index_oracle.h"

namespace {

enum Pixels { RANDOM_PIXELS, GRADIENT, FEW_COLOURS, WITH_ALPHA };
enum Endpoints { FROM_BLOCK, ANYWHERE, EQUAL, ONE_STEP };

struct Case {
  const char* why;
  int mode;
  Pixels pixels;
  Endpoints endpoints;
};

const Case kCases[] = {
    {"random pixels, endpoints from the block", 0, RANDOM_PIXELS, FROM_BLOCK},
    {"gradient, endpoints from the block", 0, GRADIENT, FROM_BLOCK},
    {"few colours, endpoints anywhere", 0, FEW_COLOURS, ANYWHERE},
    {"equal endpoints: all four entries tie", 0, GRADIENT, EQUAL},
    {"endpoints one step apart: mixes tie with the ends", 0, FEW_COLOURS, ONE_STEP},
    {"three-colour mode, pixels below alpha 128", 1, WITH_ALPHA, FROM_BLOCK},
    {"three-colour mode, equal endpoints", 1, FEW_COLOURS, EQUAL},
    {"four colours in the alpha-aware mode", 1, GRADIENT, ANYWHERE},
    {"eight entries, endpoints from the block", 2, GRADIENT, FROM_BLOCK},
    {"eight entries, random pixels and endpoints", 2, RANDOM_PIXELS, ANYWHERE},
    {"eight entries one step apart", 2, FEW_COLOURS, ONE_STEP},
    {"alpha codes, endpoints from the block", 3, WITH_ALPHA, FROM_BLOCK},
    {"alpha codes, equal endpoints", 3, WITH_ALPHA, EQUAL},
    {"opaque three-endpoint layout in mode 3", 3, GRADIENT, ANYWHERE},
};

#if defined(__SANITIZE_ADDRESS__) || !defined(NDEBUG)
const int kBlocksPerCase = 2000;
#else
const int kBlocksPerCase = 30000;
#endif

struct Generator {
  std::mt19937 rng;
  int below(int n) { return int(rng() % uint32_t(n)); }
  uint8_t byte() { return uint8_t(below(256)); }
  uint8_t clamped(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

  void fill(Pixels pixels, uint8_t rgba[64]) {
    int base[3], step[3], few[3][3];
    for (int ch = 0; ch < 3; ch++) {
      base[ch] = below(256);
      step[ch] = below(17) - 8;
      for (int c = 0; c < 3; c++) few[c][ch] = below(256);
    }
    // alphas around the thresholds of both record sizes
    static const uint8_t kAlphas[] = {0, 31, 32, 33, 95, 96, 127, 128, 223, 224, 255};
    for (int i = 0; i < 16; i++) {
      uint8_t* p = rgba + 4 * i;
      const int colour = below(3);
      for (int ch = 0; ch < 3; ch++) {
        if (pixels == RANDOM_PIXELS) p[ch] = byte();
        if (pixels == FEW_COLOURS) p[ch] = uint8_t(few[colour][ch]);
        if (pixels == GRADIENT || pixels == WITH_ALPHA)
          p[ch] = clamped(base[ch] + step[ch] * (i % 4 + i / 4) + below(5) - 2);
      }
      p[3] = pixels == WITH_ALPHA ? kAlphas[below(sizeof kAlphas)] : 255;
    }
  }

  // Three RGB565 colours: c0, c1 and the third colour of the 12-byte modes.
  void endpoints(Endpoints kind, const uint8_t rgba[64], uint16_t c[3]) {
    for (int k = 0; k < 3; k++) {
      const uint8_t* p = rgba + 4 * below(16);
      c[k] = kind == ANYWHERE ? uint16_t(rng()) : pack_rgb565(p[0], p[1], p[2]);
    }
    if (kind == EQUAL) c[1] = c[2] = c[0];
    if (kind == ONE_STEP) c[1] = c[0] ^ 1, c[2] = c[0] ^ 0x20;  // lowest blue, lowest green bit
  }
};

std::string hex(const uint8_t* bytes, int n) {
  std::string s;
  char text[4];
  for (int k = 0; k < n; k++) {
    snprintf(text, sizeof text, "%02X", bytes[k]);
    s += text;
  }
  return s;
}

TEST(IndexDifferential, MatchesOracleInEveryMode) {
  Generator gen{std::mt19937(20240611u)};
  int reported = 0;
  for (const Case& c : kCases) {
    long long differing = 0;
    for (int n = 0; n < kBlocksPerCase; n++) {
      uint8_t rgba[64], got[16], want[16];
      uint16_t ends[3];
      gen.fill(c.pixels, rgba);
      gen.endpoints(c.endpoints, rgba, ends);
      // the palette choice of the encoders: three colours or the alpha
      // layout for clear pixels or equal endpoints in the alpha-aware modes
      const bool reduced = (c.mode & 1) && (c.pixels == WITH_ALPHA || c.endpoints == EQUAL);
      if (c.mode < 2) {
        uint8_t palette[12];
        build_block_palette(ends[0], ends[1], reduced, palette);
        assign_indices(rgba, palette, reduced, got);
        oracle_assign_indices(rgba, palette, reduced, want);
      } else {
        uint8_t palette[24];
        build_extended_palette(ends[0], ends[1], ends[2], palette);
        if (reduced) {
          assign_pixel_codes(rgba, palette, got);
          oracle_assign_pixel_codes(rgba, palette, want);
        } else {
          assign_indices12(rgba, palette, got);
          oracle_assign_indices12(rgba, palette, want);
        }
      }
      if (memcmp(got, want, 16) != 0) {
        differing++;
        if (reported++ < 5) {
          ADD_FAILURE() << c.why << " (mode " << c.mode << "): pixels " << hex(rgba, 64)
                        << ", endpoints " << ends[0] << " " << ends[1] << " " << ends[2]
                        << "\n  got " << hex(got, 16) << ", oracle " << hex(want, 16);
        }
      }
    }
    EXPECT_EQ(differing, 0) << c.why << " (mode " << c.mode << ")";
  }
}

}  // namespace
