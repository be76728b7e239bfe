// The index assignment written out plainly, one palette entry after another
// straight from the palette bytes: the oracle that the encoder's assign
// functions, which hold the palette in locals, are compared with.
#ifndef VELT_TESTS_INDEX_ORACLE_H
#define VELT_TESTS_INDEX_ORACLE_H

#include <cstdint>

// The first of palette entries 0..entries-1 with the smallest squared
// distance to the pixel's R, G, B.
int oracle_nearest_entry(const uint8_t* pixel, const uint8_t* palette, int entries);

// As assign_indices: entries 0..3, or in three-colour mode 0..2 and index 3
// for a pixel with alpha below 128.
void oracle_assign_indices(const uint8_t block_rgba[64], const uint8_t palette[12],
                           bool three_colour, uint8_t indices[16]);

// As assign_indices12: the nearest of the eight entries.
void oracle_assign_indices12(const uint8_t block_rgba[64], const uint8_t palette[24],
                             uint8_t indices[16]);

// As assign_pixel_codes: colour index (entries 0..3) times four plus the
// nearest alpha level of its row, code 4 for alpha at most 32.
void oracle_assign_pixel_codes(const uint8_t block_rgba[64], const uint8_t palette[24],
                               uint8_t codes[16]);

#endif
