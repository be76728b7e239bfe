// Encoding of one 4x4 block into its block record: block preparation, the
// transparent and uniform records, and the colour block encoder.
#ifndef VELT_BLOCK_ENCODING_H
#define VELT_BLOCK_ENCODING_H

#include <stdint.h>

// Bits of the flags word that select the block encoding.
enum {
  MODE_ALPHA_AWARE = 1,  // alpha classification, transparent records
  MODE_RECORD12 = 2,     // 12-byte block records
};

enum { RECORD8_SIZE = 8, RECORD12_SIZE = 12, MAX_RECORD_SIZE = 12 };

// Working state of the block being encoded; one instance is reused for every
// block, nothing of it carries over from one block to the next.
struct BlockState {
  uint8_t block_rgba[64];   // 16 pixels, row-major, R G B A
  bool alpha_flags[16];     // alpha >= alpha_threshold (alpha-aware modes only)
  bool has_transparency;    // some pixel below alpha_threshold
  uint8_t colour_list[48];  // R G B of the listed pixels, in pixel order
  int colour_count;         // 1..16 valid entries of colour_list
};

// 8-bit channel to 5 or 6 bits, rounded to nearest.
int quantize5(int v);
int quantize6(int v);
// 8-bit R, G, B to RGB565 (red in the top five bits).
uint16_t pack_rgb565(int r, int g, int b);
// RGB565 back to 8-bit channels by bit replication.
void unpack_rgb565(uint16_t c, uint8_t rgb[3]);
// Rounded per-channel mixes: (2a + b) / 3 and (a + b) / 2.
int third(int a, int b);
int half(int a, int b);

// Copies the block whose top-left pixel is (x, y) out of an RGBA frame of the
// given width into block->block_rgba.
void fetch_block(BlockState* block, const uint8_t* pixels, uint32_t width, uint32_t x, uint32_t y);

// Encodes the block at (x, y) of the frame in the given mode (flags & 3) into
// `record`, which has room for MAX_RECORD_SIZE bytes; returns the record size
// (8, or 12 in the 12-byte modes), or 0 for a block of the 12-byte modes that
// needs the twelve-byte encoder, which does not exist yet.
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

// Packs the endpoints (little-endian) and one byte per pixel row, leftmost
// pixel of the row in the top two bits, into an 8-byte record.
void pack_block_record(uint16_t c0, uint16_t c1, const uint8_t indices[16], uint8_t record[8]);

// The 8-byte record of a block that is neither transparent nor uniform, in
// mode 0 or 1.
void encode_colour_block(const BlockState* block, int mode, uint8_t record[8]);

#endif
