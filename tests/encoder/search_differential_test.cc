// Compares the encoder's endpoint searches and whole 8- and 12-byte records
// with the straightforward references on many generated blocks: random
// colours, few colours, repeats, RGB565 collisions, exactly tied candidates,
// photograph-like gradients and the alpha cases of the alpha-aware modes.
//
// The same test is the soak run (tools/soak.sh): VELT_SOAK_SCALE multiplies
// the block counts and VELT_SOAK_SHARD draws other blocks, so that several
// processes can share one run.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

enum Shape {
  RANDOM,
  FEW,
  REPEATED,
  COLLIDING,
  ONE_CELL,
  MIRRORED,
  GREY_RAMP,
  REFLECTED,
  ON_AXIS,
  PHOTO,
  SHAPE_COUNT
};

// Puts the 16 pixels' colours in a random order (alpha stays in place).
void shuffle_pixels(Rng& rng, Rgba& b) {
  for (int i = 15; i > 0; i--) {
    int j = rng.below(i + 1);
    for (int ch = 0; ch < 3; ch++) {
      uint8_t t = b.px[4 * i + ch];
      b.px[4 * i + ch] = b.px[4 * j + ch];
      b.px[4 * j + ch] = t;
    }
  }
}

uint8_t clamp_channel(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// A photograph's block: a smooth gradient with a little noise, in about one
// block of four an edge to a second, nearby surface. Many distinct colours a
// few steps apart, whose best candidates differ little in error.
void fill_photo(Rng& rng, Rgba& b) {
  const int steep = 1 << rng.below(4);  // brightness step per pixel up to 1, 2, 4 or 8
  const int noise = rng.below(4);       // up to 0..3 levels either way
  int base[2][3], dx[2][3], dy[2][3];
  for (int s = 0; s < 2; s++) {
    int lx = rng.below(2 * steep + 1) - steep, ly = rng.below(2 * steep + 1) - steep;
    for (int ch = 0; ch < 3; ch++) {
      base[s][ch] = s == 0 ? 16 + rng.below(224) : base[0][ch] + rng.below(97) - 48;
      dx[s][ch] = lx + rng.below(3) - 1;  // mostly brightness, a little hue
      dy[s][ch] = ly + rng.below(3) - 1;
    }
  }
  // the edge: pixels on one side of a line through the block, if any
  const bool edge = rng.below(4) == 0;
  const int ex = rng.below(5) - 2, ey = rng.below(5) - 2, ec = rng.below(9) - 4;
  for (int y = 0; y < 4; y++) {
    for (int x = 0; x < 4; x++) {
      int cx = 2 * x - 3, cy = 2 * y - 3;  // from the block centre, in half pixels
      int s = edge && ex * cx + ey * cy > ec ? 1 : 0;
      uint8_t rgb[3];
      for (int ch = 0; ch < 3; ch++) {
        int v = base[s][ch] + (dx[s][ch] * cx + dy[s][ch] * cy) / 2;
        rgb[ch] = clamp_channel(v + rng.below(2 * noise + 1) - noise);
      }
      set_rgb(b, 4 * y + x, rgb);
    }
  }
}

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
        for (int ch = 0; ch < 3; ch++) rgb[ch] = clamp_channel(base[ch] + rng.below(9) - 4);
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
          rgb[ch] = clamp_channel(base[ch] + rng.below(2 * reach + 1) - reach);
        }
        set_rgb(b, i, rgb);
      }
      break;
    }
    case MIRRORED: {
      // the block is unchanged by swapping red and blue (both 5 bits), so
      // mirrored pairs have the same distances, summed in another order:
      // equal or nearly equal errors, and the loop order decides
      uint8_t colours[8][3];
      int n = 1 + rng.below(4);
      for (int c = 0; c < n; c++) random_rgb(rng, colours[c]);
      for (int i = 0; i < 8; i++) {
        const uint8_t* c = colours[rng.below(n)];
        const uint8_t mirror[3] = {c[2], c[1], c[0]};
        set_rgb(b, i, c);
        set_rgb(b, 8 + i, mirror);
      }
      shuffle_pixels(rng, b);
      break;
    }
    case GREY_RAMP: {
      // evenly spaced greys, where thirds palettes of different pairs meet
      int start = rng.below(128), step = 1 + rng.below(40);
      for (int i = 0; i < 16; i++) {
        uint8_t v = clamp_channel(start + step * rng.below(4));
        const uint8_t rgb[3] = {v, v, v};
        set_rgb(b, i, rgb);
      }
      break;
    }
    case REFLECTED: {
      // each colour with its reflection v -> 255 - v in one channel: RGB565
      // rounding, bit replication and the thirds mixes all commute with the
      // reflection, so reflected pairs have the same distances, summed in
      // another order (as with MIRRORED, about one block in four ties)
      uint8_t colours[4][3];
      int n = 1 + rng.below(4);
      const int axis = rng.below(3);
      for (int c = 0; c < n; c++) random_rgb(rng, colours[c]);
      for (int i = 0; i < 8; i++) {
        const uint8_t* c = colours[rng.below(n)];
        uint8_t reflection[3] = {c[0], c[1], c[2]};
        reflection[axis] = uint8_t(255 - c[axis]);
        set_rgb(b, i, c);
        set_rgb(b, 8 + i, reflection);
      }
      shuffle_pixels(rng, b);
      break;
    }
    case ON_AXIS: {
      // colours that differ in one channel only, the others at 0 or 255:
      // every distance is a whole number, so errors are exact and different
      // candidates often tie exactly; half the time each value comes with
      // its reflection 255 - v, and reflected pairs tie exactly
      const int axis = rng.below(3);
      const bool reflected = rng.below(2);
      int values[5];
      int n = 2 + rng.below(4);
      for (int c = 0; c < n; c++) values[c] = rng.byte();
      uint8_t rgb[3];
      for (int ch = 0; ch < 3; ch++) rgb[ch] = rng.below(2) ? 255 : 0;
      for (int i = 0; i < 16; i++) {
        int v = values[rng.below(n)];
        if (reflected && i >= 8) v = 255 - b.px[4 * (i - 8) + axis];
        rgb[axis] = uint8_t(v);
        set_rgb(b, i, rgb);
      }
      shuffle_pixels(rng, b);
      break;
    }
    case PHOTO:
      fill_photo(rng, b);
      break;
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

// What one comparison run covered.
struct Tally {
  long long compared = 0;  // blocks that reached the colour block encoders
  long long triple = 0;    // of these, blocks that went through the triple search
  int differing = 0;       // blocks whose endpoints or record differ
};

// Stops a run after this many differing blocks: each is reported in full.
const int kMaxReported = 5;

// Reports a block whose search result or record differs from the reference,
// with everything needed to replay it.
void report(const Rgba& b, int mode, const uint16_t* got, const uint16_t* ref, int colours,
            const uint8_t* record, const uint8_t* expected, int size, Tally* tally) {
  ADD_FAILURE() << describe(b, mode) << "\n  endpoints " << hex_colours(got, colours)
                << ", reference " << hex_colours(ref, colours) << "\n  record "
                << hex_bytes(record, size) << ", reference " << hex_bytes(expected, size);
  tally->differing++;
}

// The 12-byte part of check_block: the search the encoder runs for this list
// (pairs when some pixel is left out, triples otherwise) and the record.
void check_block12(const Rgba& b, int mode, const uint8_t* list, int count, const uint8_t* record,
                   Tally* tally) {
  uint8_t expected[12];
  uint16_t ref[3], got[3] = {0, 0, 0};
  reference_encode_block12(b.px, list, count, mode, expected, ref);
  if (count < 16) {
    find_endpoints(list, count, &got[0], &got[1]);
  } else {
    find_endpoint_triple(list, count, &got[0], &got[1], &got[2]);
    tally->triple++;
  }
  if (memcmp(got, ref, sizeof ref) != 0 || memcmp(record, expected, 12) != 0) {
    report(b, mode, got, ref, 3, record, expected, 12, tally);
  }
}

// Encodes `b` with encode_block and compares list, endpoints and record with
// the reference, counting the block in `tally`. Skips blocks that take the
// uniform or transparent record.
void check_block(const Rgba& b, int mode, Tally* tally) {
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
  if (uniform || count == 0) return;

  BlockState state;
  uint8_t record[VELT_MAX_RECORD_SIZE];
  const int size = mode & VELT_MODE_RECORD12 ? VELT_RECORD12_SIZE : VELT_RECORD8_SIZE;
  EXPECT_EQ(encode_block(&state, b.px, 4, 0, 0, mode, record), size) << describe(b, mode);
  tally->compared++;
  if (state.colour_count != count || memcmp(state.colour_list, list, 3 * count) != 0) {
    ADD_FAILURE() << "colour list differs; " << describe(b, mode);
    tally->differing++;
    return;
  }
  if (size == VELT_RECORD12_SIZE) return check_block12(b, mode, list, count, record, tally);

  uint16_t got[2] = {0, 0}, ref[2] = {0, 0};
  find_endpoints(list, count, &got[0], &got[1]);
  reference_find_endpoints(list, count, &ref[0], &ref[1]);
  uint8_t expected[8];
  reference_encode_colour_block(b.px, list, count, mode, expected);
  if (memcmp(got, ref, sizeof ref) != 0 || memcmp(record, expected, 8) != 0) {
    report(b, mode, got, ref, 2, record, expected, 8, tally);
  }
}

// A whole number from the environment, `fallback` when unset; -1 when it is
// not a whole number.
long long env_number(const char* name, long long fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end;
  long long v = std::strtoll(text, &end, 10);
  return *end == '\0' && v >= 0 ? v : -1;
}

// The soak settings: how many times the block counts, and which blocks.
struct Soak {
  long long scale;
  long long shard;
};

Soak soak_settings() {
  Soak soak{env_number("VELT_SOAK_SCALE", 1), env_number("VELT_SOAK_SHARD", 0)};
  EXPECT_GE(soak.scale, 1) << "VELT_SOAK_SCALE must be a whole number from 1";
  EXPECT_GE(soak.shard, 0) << "VELT_SOAK_SHARD must be a whole number";
  return soak;
}

uint64_t shard_seed(uint64_t seed, const Soak& soak) {
  return seed + 0x632BE59BD9B4E019ULL * uint64_t(soak.shard);
}

// Progress of a soak run, one line per shape, so that its log shows how far
// it got.
void soak_progress(const Soak& soak, const char* modes, int shape, const Tally& tally) {
  if (soak.scale == 1) return;
  printf("[ soak     ] modes %s: shape %d of %d done, %lld blocks compared, %d differing\n", modes,
         shape + 1, int(SHAPE_COUNT), tally.compared, tally.differing);
  fflush(stdout);
}

// Block counts. The release build compares over 200,000 blocks in modes 0
// and 1 and over 5,000 in modes 2 and 3, most of them through the triple
// search (its reference scores about 250,000 distances per block); the
// unoptimised debug and sanitizer builds compare far fewer.
#if defined(__SANITIZE_ADDRESS__) || !defined(NDEBUG)
const int kBlocksPerCase = 600;        // per shape and mode 0/1 alpha case
const int kTripleBlocksPerShape = 3;   // per shape and 12-byte triple case
const int kClearBlocksPerShape = 30;   // per shape and 12-byte case with clear pixels
#else
const int kBlocksPerCase = 4100;
const int kTripleBlocksPerShape = 160;
const int kClearBlocksPerShape = 140;
#endif

TEST(SearchDifferential, MatchesReferenceOnGeneratedBlocks) {
  const Soak soak = soak_settings();
  Rng rng{shard_seed(0x9E3779B97F4A7C15ULL, soak)};
  const long long per_case = kBlocksPerCase * soak.scale;
  Tally tally;
  for (int shape = 0; shape < SHAPE_COUNT && tally.differing < kMaxReported; shape++) {
    for (long long n = 0; n < per_case && tally.differing < kMaxReported; n++) {
      Rgba b;
      fill_colours(rng, b, Shape(shape));
      fill_alpha(rng, b, ANY_ALPHA);
      check_block(b, 0, &tally);
      for (int alpha = 0; alpha < ALPHA_CASE_COUNT; alpha++) {
        fill_alpha(rng, b, AlphaCase(alpha));
        check_block(b, 1, &tally);
      }
    }
    soak_progress(soak, "0 and 1", shape, tally);
  }
  printf("[ compared ] %lld blocks in modes 0 and 1, %d differing\n", tally.compared,
         tally.differing);
  // the generators must reach the colour block encoder, not the cheap records
  const long long generated = SHAPE_COUNT * (1 + ALPHA_CASE_COUNT) * per_case;
  if (tally.differing == 0) {
    EXPECT_GE(tally.compared, generated - generated / 50);
  }
}

TEST(SearchDifferential, MatchesReferenceOnTwelveByteBlocks) {
  const Soak soak = soak_settings();
  Rng rng{shard_seed(0xD1B54A32D192ED03ULL, soak)};
  const long long triple_blocks = kTripleBlocksPerShape * soak.scale;
  const long long clear_blocks = kClearBlocksPerShape * soak.scale;
  Tally tally;
  for (int shape = 0; shape < SHAPE_COUNT && tally.differing < kMaxReported; shape++) {
    // triple search: mode 2; mode 3 with every alpha at least 224 or about
    // half the time one at 223, and with every alpha at least 32 and nearly
    // always one below 224 (alpha layout)
    for (long long n = 0; n < triple_blocks && tally.differing < kMaxReported; n++) {
      Rgba b;
      fill_colours(rng, b, Shape(shape));
      fill_alpha(rng, b, ANY_ALPHA);
      check_block(b, 2, &tally);
      fill_colours(rng, b, Shape(shape));
      fill_alpha(rng, b, AT_LAYOUT_BOUND);
      check_block(b, 3, &tally);
      fill_colours(rng, b, Shape(shape));
      fill_alpha(rng, b, LEVEL_EDGES);
      check_block(b, 3, &tally);
    }
    // pixels below 32: the pair search over the rest, then the alpha layout
    for (long long n = 0; n < clear_blocks && tally.differing < kMaxReported; n++) {
      Rgba b;
      fill_colours(rng, b, Shape(shape));
      fill_alpha(rng, b, LEVEL_EDGES_SOME_CLEAR);
      check_block(b, 3, &tally);
      fill_alpha(rng, b, ANY_ALPHA);
      check_block(b, 3, &tally);
    }
    soak_progress(soak, "2 and 3", shape, tally);
  }
  printf("[ compared ] %lld blocks in modes 2 and 3, %lld through the triple search, "
         "%d differing\n",
         tally.compared, tally.triple, tally.differing);
  const long long generated = SHAPE_COUNT * (3 * triple_blocks + 2 * clear_blocks);
  if (tally.differing == 0) {
    EXPECT_GE(tally.compared, generated - generated / 50);
    EXPECT_GE(tally.triple, 3 * SHAPE_COUNT * triple_blocks);
  }
}

}  // namespace
