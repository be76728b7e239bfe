// Compares the encoder's endpoint searches and whole 8- and 12-byte records
// with the straightforward references on many generated blocks: random
// colours, few colours, repeats, RGB565 collisions, mirrored (tied) colours
// and the alpha cases of the alpha-aware modes.
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

enum Shape { RANDOM, FEW, REPEATED, COLLIDING, ONE_CELL, MIRRORED, GREY_RAMP, SHAPE_COUNT };

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
    case ONE_CELL: {
      // different RGB colours that all fall on one RGB565 value: the search
      // ends with equal endpoints
      uint8_t base[3];
      unpack_rgb565(uint16_t(rng.next()), base);
      for (int i = 0; i < 16; i++) {
        uint8_t rgb[3];
        for (int ch = 0; ch < 3; ch++) {
          int reach = ch == 1 ? 1 : 2;  // well inside the 6- and 5-bit steps
          int v = base[ch] + rng.below(2 * reach + 1) - reach;
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

enum AlphaCase {
  OPAQUE,
  SOME_CLEAR,
  AT_THRESHOLD,
  ANY_ALPHA,
  ALPHA_CASE_COUNT,
  // 12-byte cases: alphas at the alpha level boundaries, 32/33 and 223/224;
  // the same with some pixels at 31/32/33 or clear
  LEVEL_EDGES = ALPHA_CASE_COUNT,
  LEVEL_EDGES_SOME_CLEAR,
  // 224 and above, about every other block with one pixel at 223
  AT_LAYOUT_BOUND,
};

void fill_alpha(Rng& rng, Rgba& b, AlphaCase alpha) {
  static const uint8_t edges[] = {32,  33,  42,  43,  96,  97,  127, 128,
                                  160, 161, 212, 213, 223, 224, 255, 255};
  static const uint8_t clear_edges[] = {0, 31, 31, 32, 33};
  for (int i = 0; i < 16; i++) {
    uint8_t a = 255;
    if (alpha == SOME_CLEAR) a = rng.below(4) == 0 ? uint8_t(rng.below(128)) : 255;
    if (alpha == AT_THRESHOLD) a = rng.below(2) ? 128 : 127;
    if (alpha == ANY_ALPHA) a = rng.byte();
    if (alpha == LEVEL_EDGES) a = edges[rng.below(16)];
    if (alpha == AT_LAYOUT_BOUND) a = rng.below(24) == 0 ? 223 : rng.below(2) ? 224 : 255;
    if (alpha == LEVEL_EDGES_SOME_CLEAR) {
      a = rng.below(4) == 0 ? clear_edges[rng.below(5)] : edges[rng.below(16)];
    }
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

// RGB565 colours and record bytes in hex, for failure messages.
std::string hex_colours(const uint16_t* c, int n) {
  std::string s;
  char hex[8];
  for (int k = 0; k < n; k++) {
    snprintf(hex, sizeof hex, "%s%04X", k ? "," : "", c[k]);
    s += hex;
  }
  return s;
}

std::string hex_bytes(const uint8_t* bytes, int n) {
  std::string s;
  char hex[4];
  for (int k = 0; k < n; k++) {
    snprintf(hex, sizeof hex, "%s%02X", k ? " " : "", bytes[k]);
    s += hex;
  }
  return s;
}

// The 12-byte part of check_block: the search the encoder runs for this list
// (pairs when some pixel is left out, triples otherwise) and the record.
bool check_block12(const Rgba& b, int mode, const uint8_t* list, int count, const uint8_t* record) {
  uint8_t expected[12];
  uint16_t ref[3], got[3] = {0, 0, 0};
  reference_encode_block12(b.px, list, count, mode, expected, ref);
  if (count < 16) {
    find_endpoints(list, count, &got[0], &got[1]);
  } else {
    find_endpoint_triple(list, count, &got[0], &got[1], &got[2]);
  }
  if (memcmp(got, ref, sizeof ref) != 0) {
    ADD_FAILURE() << (count < 16 ? "endpoints " : "triple ") << hex_colours(got, 3)
                  << " reference " << hex_colours(ref, 3) << "; " << describe(b, mode);
    return false;
  }
  if (memcmp(record, expected, 12) != 0) {
    ADD_FAILURE() << "record " << hex_bytes(record, 12) << " reference "
                  << hex_bytes(expected, 12) << "; " << describe(b, mode);
    return false;
  }
  return true;
}

// Encodes `b` with encode_block and compares list, endpoints and record with
// the reference; returns false on a mismatch. Skips blocks that take the
// uniform or transparent record.
bool check_block(const Rgba& b, int mode, int* encoded) {
  // alpha below which a pixel is left out of the colour list
  const int threshold = mode == 1 ? 128 : mode == 3 ? 32 : 0;
  uint8_t list[48];
  int count = 0;
  bool uniform = true;
  for (int i = 0; i < 16; i++) {
    uniform &= memcmp(b.px + 4 * i, b.px, 4) == 0;
    if (b.px[4 * i + 3] < threshold) continue;
    memcpy(list + 3 * count++, b.px + 4 * i, 3);
  }
  if (uniform || count == 0) return true;

  BlockState state;
  uint8_t record[MAX_RECORD_SIZE];
  const int size = mode & MODE_RECORD12 ? RECORD12_SIZE : RECORD8_SIZE;
  EXPECT_EQ(encode_block(&state, b.px, 4, 0, 0, mode, record), size) << describe(b, mode);
  ++*encoded;
  if (state.colour_count != count || memcmp(state.colour_list, list, 3 * count) != 0) {
    ADD_FAILURE() << "colour list differs; " << describe(b, mode);
    return false;
  }
  if (size == RECORD12_SIZE) return check_block12(b, mode, list, count, record);

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
  const int kBlocksPerCase = 600;  // 7 shapes x (1 + 4) alpha cases x 600 = 21,000 blocks
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
  EXPECT_GT(encoded, 20000);
}

// The reference triple search scores about 250,000 distances per block, so
// the 12-byte blocks are fewer, and fewer still in the unoptimised sanitizer
// build.
#if defined(__SANITIZE_ADDRESS__) || !defined(NDEBUG)
const int kTripleBlocksPerShape = 3;
#else
const int kTripleBlocksPerShape = 32;
#endif

TEST(SearchDifferential, MatchesReferenceOnTwelveByteBlocks) {
  Rng rng{0xD1B54A32D192ED03ULL};
  int encoded = 0, failures = 0;
  for (int shape = 0; shape < SHAPE_COUNT && failures < 5; shape++) {
    // triple search: mode 2; mode 3 with every alpha at least 224 or about
    // half the time one at 223, and with every alpha at least 32 and nearly
    // always one below 224 (alpha layout)
    for (int n = 0; n < kTripleBlocksPerShape && failures < 5; n++) {
      Rgba b;
      fill_colours(rng, b, Shape(shape));
      fill_alpha(rng, b, ANY_ALPHA);
      if (!check_block(b, 2, &encoded)) failures++;
      fill_colours(rng, b, Shape(shape));
      fill_alpha(rng, b, AT_LAYOUT_BOUND);
      if (!check_block(b, 3, &encoded)) failures++;
      fill_colours(rng, b, Shape(shape));
      fill_alpha(rng, b, LEVEL_EDGES);
      if (!check_block(b, 3, &encoded)) failures++;
    }
    // pixels below 32: the pair search over the rest, then the alpha layout
    for (int n = 0; n < 10 * kTripleBlocksPerShape && failures < 5; n++) {
      Rgba b;
      fill_colours(rng, b, Shape(shape));
      fill_alpha(rng, b, LEVEL_EDGES_SOME_CLEAR);
      if (!check_block(b, 3, &encoded)) failures++;
      fill_alpha(rng, b, ANY_ALPHA);
      if (!check_block(b, 3, &encoded)) failures++;
    }
  }
  EXPECT_GT(encoded, SHAPE_COUNT * kTripleBlocksPerShape * 22);
}

}  // namespace
