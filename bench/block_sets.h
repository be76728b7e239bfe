// The block sets of the search benchmarks, cut from a photograph.
#ifndef VELT_BLOCK_SETS_H
#define VELT_BLOCK_SETS_H

#include <cstdint>
#include <string>
#include <vector>

// Blocks of 16 RGBA pixels, 64 bytes each, row-major.
struct BlockSet {
  std::string name;
  std::string description;
  std::vector<uint8_t> rgba;  // 64 bytes a block
  int count() const { return static_cast<int>(rgba.size() / 64); }
  bool alpha_only;            // only meaningful in the alpha-aware modes
};

// An RGBA image as the PNG decoder gives it.
struct Photo {
  std::vector<uint8_t> pixels;
  uint32_t width = 0;
  uint32_t height = 0;
};

// Loads an RGBA photograph; false with a message on standard error when the
// file does not decode or is smaller than one block.
bool load_photo(const char* path, Photo* photo);

// The four sets, `per_set` blocks each, all fixed by the photograph:
//   photo16: blocks of the photograph whose 16 pixels are 16 distinct colours,
//   few:     blocks of 2 to 4 colours taken from the photograph's pixels,
//   photo:   blocks of the photograph as they come (all but uniform ones),
//   alpha:   the photo blocks with some pixels transparent or half
//            transparent (alpha-aware modes only).
std::vector<BlockSet> make_block_sets(const Photo& photo, int per_set);

#endif
