// Compares the encoder's endpoint search and whole 8-byte records with the
// straightforward reference on many generated blocks: random colours, few
// colours, repeats, RGB565 collisions, mirrored (tied) colours and the alpha
// cases of the alpha-aware mode.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "block_encoding.h"
#include "reference_search.h"

namespace {

// Small deterministic generator (xorshift64*), the same on every platform.
struct Rng {
  uint64_t state;
  uint32_t next() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return uint32_t((state * 0x2545F4914F6CDD1DULL) >> 32);
  }
  int below(int n) { return int(next() % uint32_t(n)); }
  uint8_t byte() { return uint8_t(next() >> 24); }
};

struct Rgba {
  uint8_t px[64];
};

void set_rgb(Rgba& b, int i, const uint8_t rgb[3]) {
  b.px[4 * i] = rgb[0];
  b.px[4 * i + 1] = rgb[1];
  b.px[4 * i + 2] = rgb[2];
}

void random_rgb(Rng& rng, uint8_t rgb[3]) {
  rgb[0] = rng.byte(), rgb[1] = rng.byte(), rgb[2] = rng.byte();
}

// Each pixel one of `n` random colours; colour 0 taken about `bias` of the time.
void from_palette(Rng& rng, Rgba& b, int n, int bias_percent) {
  uint8_t colours[16][3];
  for (int c = 0; c < n; c++) random_rgb(rng, colours[c]);
  for (int i = 0; i < 16; i++) {
    int c = rng.below(100) < bias_percent ? 0 : rng.below(n);
    set_rgb(b, i, colours[c]);
  }
}

enum Shape { RANDOM, FEW, REPEATED, COLLIDING, MIRRORED, GREY_RAMP, SHAPE_COUNT };

void fill_colours(Rng& rng, Rgba& b, Shape shape) {
  switch (shape) {
    case RANDOM:
      for (int i = 0; i < 16; i++) {
        uint8_t rgb[3];
        random_rgb(rng, rgb);
        set_rgb(b, i, rgb);
      }
      break;
    case FEW:
      from_palette(rng, b, 2 + rng.below(3), 0);
      break;
    case REPEATED:
      from_palette(rng, b, 3 + rng.below(6), 50);
      break;
    case COLLIDING: {
      // one or two base colours, each pixel nudged by a few steps: many
      // listed colours fall on the same RGB565 value while differing in RGB
      uint8_t bases[2][3];
      random_rgb(rng, bases[0]);
      random_rgb(rng, bases[1]);
      int n = 1 + rng.below(2);
      for (int i = 0; i < 16; i++) {
        const uint8_t* base = bases[rng.below(n)];
        uint8_t rgb[3];
        for (int ch = 0; ch < 3; ch++) {
          int v = base[ch] + rng.below(9) - 4;
          rgb[ch] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
        }
        set_rgb(b, i, rgb);
      }
      break;
    }
    case MIRRORED: {
      // the block is unchanged by swapping red and blue (both 5 bits), so
      // mirrored pairs have exactly equal errors and the loop order decides
      uint8_t colours[8][3];
      int n = 1 + rng.below(4);
      for (int c = 0; c < n; c++) random_rgb(rng, colours[c]);
      for (int i = 0; i < 8; i++) {
        const uint8_t* c = colours[rng.below(n)];
        const uint8_t mirror[3] = {c[2], c[1], c[0]};
        set_rgb(b, i, c);
        set_rgb(b, 8 + i, mirror);
      }
      for (int i = 15; i > 0; i--) {  // shuffle the pixel order
        int j = rng.below(i + 1);
        for (int ch = 0; ch < 3; ch++) {
          uint8_t t = b.px[4 * i + ch];
          b.px[4 * i + ch] = b.px[4 * j + ch];
          b.px[4 * j + ch] = t;
        }
      }
      break;
    }
    case GREY_RAMP: {
      // evenly spaced greys, where thirds palettes of different pairs meet
      int start = rng.below(128), step = 1 + rng.below(40);
      for (int i = 0; i < 16; i++) {
        int v = start + step * rng.below(4);
        const uint8_t rgb[3] = {uint8_t(v > 255 ? 255 : v), uint8_t(v > 255 ? 255 : v),
                                uint8_t(v > 255 ? 255 : v)};
        set_rgb(b, i, rgb);
      }
      break;
    }
    case SHAPE_COUNT:
      break;
  }
}

enum AlphaCase { OPAQUE, SOME_CLEAR, AT_THRESHOLD, ANY_ALPHA, ALPHA_CASE_COUNT };

void fill_alpha(Rng& rng, Rgba& b, AlphaCase alpha) {
  for (int i = 0; i < 16; i++) {
    uint8_t a = 255;
    if (alpha == SOME_CLEAR) a = rng.below(4) == 0 ? uint8_t(rng.below(128)) : 255;
    if (alpha == AT_THRESHOLD) a = rng.below(2) ? 128 : 127;
    if (alpha == ANY_ALPHA) a = rng.byte();
    b.px[4 * i + 3] = a;
  }
}

std::string describe(const Rgba& b, int mode) {
  std::string s = "mode " + std::to_string(mode) + ", pixels:";
  char hex[8];
  for (int i = 0; i < 64; i++) {
    snprintf(hex, sizeof hex, "%s%02X", i % 4 ? "" : " ", b.px[i]);
    s += hex;
  }
  return s;
}

// Encodes `b` with encode_block and compares list, endpoints and record with
// the reference; returns false on a mismatch. Skips blocks that take the
// uniform or transparent record.
bool check_block(const Rgba& b, int mode, int* encoded) {
  uint8_t list[48];
  int count = 0;
  bool uniform = true;
  for (int i = 0; i < 16; i++) {
    uniform &= memcmp(b.px + 4 * i, b.px, 4) == 0;
    if (mode == 1 && b.px[4 * i + 3] < 128) continue;
    memcpy(list + 3 * count++, b.px + 4 * i, 3);
  }
  if (uniform || count == 0) return true;

  BlockState state;
  uint8_t record[MAX_RECORD_SIZE];
  EXPECT_EQ(encode_block(&state, b.px, 4, 0, 0, mode, record), 8) << describe(b, mode);
  ++*encoded;
  if (state.colour_count != count || memcmp(state.colour_list, list, 3 * count) != 0) {
    ADD_FAILURE() << "colour list differs; " << describe(b, mode);
    return false;
  }

  uint16_t e = 0, f = 0, ref_e = 0, ref_f = 0;
  find_endpoints(list, count, &e, &f);
  reference_find_endpoints(list, count, &ref_e, &ref_f);
  if (e != ref_e || f != ref_f) {
    ADD_FAILURE() << "endpoints " << std::hex << e << "," << f << " reference " << ref_e << ","
                  << ref_f << "; " << describe(b, mode);
    return false;
  }

  uint8_t expected[8];
  reference_encode_colour_block(b.px, list, count, mode, expected);
  if (memcmp(record, expected, 8) != 0) {
    ADD_FAILURE() << "record differs from the reference; " << describe(b, mode);
    return false;
  }
  return true;
}

TEST(SearchDifferential, MatchesReferenceOnGeneratedBlocks) {
  Rng rng{0x9E3779B97F4A7C15ULL};
  const int kBlocksPerCase = 600;  // 6 shapes x (1 + 4) alpha cases x 600 = 18,000 blocks
  int encoded = 0, failures = 0;
  for (int shape = 0; shape < SHAPE_COUNT && failures < 5; shape++) {
    for (int n = 0; n < kBlocksPerCase && failures < 5; n++) {
      Rgba b;
      fill_colours(rng, b, Shape(shape));
      fill_alpha(rng, b, ANY_ALPHA);
      if (!check_block(b, 0, &encoded)) failures++;
      for (int alpha = 0; alpha < ALPHA_CASE_COUNT; alpha++) {
        fill_alpha(rng, b, AlphaCase(alpha));
        if (!check_block(b, 1, &encoded)) failures++;
      }
    }
  }
  // the generators must reach the colour block encoder, not the cheap records
  EXPECT_GT(encoded, 17000);
}

}  // namespace
