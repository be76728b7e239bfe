#include "block_sets.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "png_decoder.h"

namespace {

// A small deterministic generator, so that every run times the same blocks.
struct Random {
  uint32_t state;
  uint32_t next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
  uint32_t below(uint32_t n) { return next() % n; }
};

void copy_block(const Photo& photo, uint32_t bx, uint32_t by, uint8_t out[64]) {
  for (uint32_t r = 0; r < 4; r++) {
    const uint8_t* row = photo.pixels.data() + 4 * ((size_t)(4 * by + r) * photo.width + 4 * bx);
    std::memcpy(out + 16 * r, row, 16);
  }
}

int distinct_colours(const uint8_t rgba[64]) {
  int distinct = 0;
  for (int i = 0; i < 16; i++) {
    bool seen = false;
    for (int j = 0; j < i && !seen; j++) seen = std::memcmp(rgba + 4 * i, rgba + 4 * j, 3) == 0;
    distinct += !seen;
  }
  return distinct;
}

// `wanted` blocks spread evenly over `candidates` (all of them if fewer).
std::vector<uint8_t> spread(const std::vector<uint8_t>& candidates, int wanted) {
  size_t available = candidates.size() / 64;
  std::vector<uint8_t> out;
  size_t take = available < static_cast<size_t>(wanted) ? available : wanted;
  for (size_t i = 0; i < take; i++) {
    size_t pick = i * available / take;
    out.insert(out.end(), candidates.begin() + 64 * pick, candidates.begin() + 64 * (pick + 1));
  }
  return out;
}

}  // namespace

bool load_photo(const char* path, Photo* photo) {
  unsigned char* pixels = nullptr;
  unsigned width = 0, height = 0;
  unsigned error = lodepng_decode32_file(&pixels, &width, &height, path);
  if (error != 0 || width < 4 || height < 4) {
    std::fprintf(stderr, "cannot use %s as the photograph: %s\n", path,
                 error != 0 ? lodepng_error_text(error) : "smaller than one block");
    std::free(pixels);
    return false;
  }
  photo->pixels.assign(pixels, pixels + (size_t)width * height * 4);
  photo->width = width;
  photo->height = height;
  std::free(pixels);
  return true;
}

std::vector<BlockSet> make_block_sets(const Photo& photo, int per_set) {
  uint32_t across = photo.width / 4, down = photo.height / 4;
  std::vector<uint8_t> sixteen, varied;
  uint8_t block[64];
  for (uint32_t by = 0; by < down; by++) {
    for (uint32_t bx = 0; bx < across; bx++) {
      copy_block(photo, bx, by, block);
      int distinct = distinct_colours(block);
      if (distinct == 16) sixteen.insert(sixteen.end(), block, block + 64);
      if (distinct > 1) varied.insert(varied.end(), block, block + 64);
    }
  }

  std::vector<BlockSet> sets;
  sets.push_back({"photo16", "16 distinct colours, from the photograph", spread(sixteen, per_set),
                  false});

  // 2, 3 or 4 distinct colours of random pixels, each used at least once
  Random random{0x9E3779B9u};
  BlockSet few{"few", "2 to 4 colours of the photograph's pixels", {}, false};
  size_t pixel_count = (size_t)photo.width * photo.height;
  while (few.count() < per_set) {
    int colours = 2 + few.count() % 3;
    uint8_t palette[4][4];
    for (int c = 0; c < colours; c++) {
      std::memcpy(palette[c], photo.pixels.data() + 4 * random.below((uint32_t)pixel_count), 4);
    }
    int order[16];
    for (int i = 0; i < 16; i++) order[i] = i < colours ? i : (int)random.below(colours);
    for (int i = 15; i > 0; i--) std::swap(order[i], order[random.below(i + 1)]);
    for (int i = 0; i < 16; i++) std::memcpy(block + 4 * i, palette[order[i]], 4);
    if (distinct_colours(block) != colours) continue;
    few.rgba.insert(few.rgba.end(), block, block + 64);
  }
  sets.push_back(few);

  BlockSet as_they_come{"photo", "photograph blocks as they come (not uniform)",
                        spread(varied, per_set), false};
  sets.push_back(as_they_come);

  // alpha levels on both sides of both thresholds (32 and 128); at least one
  // pixel visible and one transparent in every mode
  static const uint8_t ALPHAS[8] = {0, 0, 16, 64, 160, 255, 255, 255};
  BlockSet alpha{"alpha", "photograph blocks with transparent pixels", as_they_come.rgba, true};
  for (int b = 0; b < alpha.count(); b++) {
    uint8_t* rgba = alpha.rgba.data() + 64 * b;
    for (int i = 0; i < 16; i++) rgba[4 * i + 3] = ALPHAS[random.below(8)];
    rgba[3] = 255;
    rgba[63] = 0;
  }
  sets.push_back(alpha);
  return sets;
}
