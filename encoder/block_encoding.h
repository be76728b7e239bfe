// Encoding of one 4x4 block into its block record: block preparation, the
// transparent and uniform records, and the colour block encoder.
#ifndef VELT_BLOCK_ENCODING_H
#define VELT_BLOCK_ENCODING_H

#include <stdint.h>
#include <string.h>

#include "colour_math.h"
#include "velt_format.h"  // the mode bits and record sizes

// Working state of the block being encoded; one instance is reused for every
// block, nothing of it carries over from one block to the next.
struct BlockState {
  uint8_t block_rgba[64];   // 16 pixels, row-major, R G B A
  bool alpha_flags[16];     // alpha >= alpha_threshold (alpha-aware modes only)
  bool has_transparency;    // some pixel below alpha_threshold
  uint8_t colour_list[48];  // R G B of the listed pixels, in pixel order
  int colour_count;         // 1..16 valid entries of colour_list
};

// Copies the block whose top-left pixel is (x, y) out of an RGBA frame of the
// given width into block->block_rgba.
void fetch_block(BlockState* block, const uint8_t* pixels, uint32_t width, uint32_t x, uint32_t y);

// What a block needs once its pixels are in block_rgba.
enum BlockKind {
  BLOCK_TRANSPARENT,  // alpha-aware mode, no pixel at or above the threshold
  BLOCK_UNIFORM,      // all 16 pixels equal in R, G, B and A
  BLOCK_COLOURS,      // an endpoint search over colour_list
};

// Classifies the fetched block in the given mode: alpha flags and
// has_transparency (alpha-aware modes), and for BLOCK_COLOURS the colour list.
BlockKind prepare_block(BlockState* block, int mode);

// Encodes the block at (x, y) of the frame in the given mode (flags & 3) into
// `record`, which has room for VELT_MAX_RECORD_SIZE bytes; returns the record
// size (8, or 12 in the 12-byte modes).
int encode_block(BlockState* block, const uint8_t* pixels, uint32_t width, uint32_t x, uint32_t y,
                 int mode, uint8_t* record);

// Endpoint search over ordered pairs of listed colours: the pair whose
// four-colour palette gives the smallest sum of distances, first one on ties.
void find_endpoints(const uint8_t* colour_list, int colour_count, uint16_t* e, uint16_t* f);

// Builds the four (R, G, B) entries of the palette of endpoints c0 and c1:
// p0, p1 and their two thirds mixes in four-colour mode; p0, p1, their half
// mix and black (the transparent entry) in three-colour mode.
void build_block_palette(uint16_t c0, uint16_t c1, bool three_colour, uint8_t palette[12]);

// Gives each pixel of the block the palette entry nearest to its colour
// (squared distance, lowest index on ties). In three-colour mode only entries
// 0..2 are chosen by distance and a pixel with alpha below 128 gets index 3.
void assign_indices(const uint8_t block_rgba[64], const uint8_t palette[12], bool three_colour,
                    uint8_t indices[16]);

// True when pixel i (i > 0) of the block has the R, G, B and A of pixel
// i - 1: its index or code is then the previous pixel's. Flat areas and
// drawings repeat pixels along every row, and the nearest-entry search is
// most of the work of assigning them.
static inline bool repeats_previous_pixel(const uint8_t block_rgba[64], int i) {
  uint32_t pixel, previous;
  memcpy(&pixel, block_rgba + 4 * i, 4);
  memcpy(&previous, block_rgba + 4 * i - 4, 4);
  return pixel == previous;
}

// Packs the endpoints (little-endian) and one byte per pixel row, leftmost
// pixel of the row in the top two bits, into an 8-byte record.
void pack_block_record(uint16_t c0, uint16_t c1, const uint8_t indices[16], uint8_t record[8]);

// The endpoint order of both record sizes. In the alpha-aware modes, a block
// whose endpoints are equal or that has a pixel with alpha below
// `alpha_bound` puts the smaller colour first (the three-colour mode, or the
// alpha layout) and the function returns true; otherwise the larger colour
// comes first.
bool order_endpoints(const BlockState* block, int mode, int alpha_bound, uint16_t e, uint16_t f,
                     uint16_t* c0, uint16_t* c1);

// The 8-byte record of a block that is neither transparent nor uniform, in
// mode 0 or 1.
void encode_colour_block(const BlockState* block, int mode, uint8_t record[8]);


// The eight-entry palette of three RGB565 colours: p0, p1, their two thirds
// mixes, p2, the mean of all three, and the halves p0-p2 and p1-p2.
void build_extended_palette(uint16_t c0, uint16_t c1, uint16_t c2, uint8_t palette[24]);

// Endpoint search over the block's colours for 12-byte records: pairs i < j
// with every third colour k, the triple whose eight-colour palette gives the
// smallest sum of distances, first one on ties; a triple with E == F counts
// only when G == E as well.
void find_endpoint_triple(const uint8_t* colour_list, int colour_count, uint16_t* e, uint16_t* f,
                          uint16_t* g);

// Alpha layout: each pixel's 4-bit code, colour index (palette entries 0..3)
// times four plus its alpha level; pixels with alpha <= 32 get code 4.
void assign_pixel_codes(const uint8_t block_rgba[64], const uint8_t palette[24], uint8_t codes[16]);
// Three-endpoint layout: each pixel's nearest entry of the eight.
void assign_indices12(const uint8_t block_rgba[64], const uint8_t palette[24], uint8_t indices[16]);

// The 12-byte record: c0, c1 and either the sixteen 4-bit codes (alpha
// layout; c2 unused) or c2 and the sixteen 3-bit indices as one 48-bit string.
void pack_block_record12(uint16_t c0, uint16_t c1, uint16_t c2, bool alpha_layout,
                         const uint8_t values[16], uint8_t record[12]);

// The 12-byte record of a block that is neither transparent nor uniform, in
// mode 2 or 3.
void encode_block12(const BlockState* block, int mode, uint8_t record[12]);

#endif
