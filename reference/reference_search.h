// Straightforward references of the endpoint searches and of the whole 8- and
// 12-byte colour block records. They are the searches written out literally,
// every candidate scored in full in the loop order given below, with none of
// the encoder's shortcuts and none of its code: slow on purpose, and kept as
// the oracle that the encoder's fast searches must match record for record.
// The unit tests and the soak run compare the two on many blocks, and the
// search benchmarks time the fast searches against them.
#ifndef VELT_REFERENCE_SEARCH_H
#define VELT_REFERENCE_SEARCH_H

#include <stdint.h>

// The pair search written out literally: all ordered pairs (i, j) of listed
// colours, outer loop i, the thirds palette of their RGB565 forms, the sum in
// single precision and list order of each colour's smallest Euclidean distance
// (square root in double, rounded to float), replaced only on a strictly
// smaller sum.
void reference_find_endpoints(const uint8_t* colour_list, int colour_count, uint16_t* e,
                              uint16_t* f);

// The 8-byte record of a block in mode 0 or 1 (1 = alpha-aware), from its 16
// RGBA pixels and its colour list, built on reference_find_endpoints and on
// its own palette, index and packing code.
void reference_encode_colour_block(const uint8_t block_rgba[64], const uint8_t* colour_list,
                                   int colour_count, int mode, uint8_t record[8]);

// The triple search written out literally: pairs i < j (outer loop i, then j)
// with every third colour k (inner loop), the eight-entry palette of their
// RGB565 forms, the block error summed as in the pair search; a triple is
// taken only on a strictly smaller sum and only when E != F or G == E.
void reference_find_endpoint_triple(const uint8_t* colour_list, int colour_count, uint16_t* e,
                                    uint16_t* f, uint16_t* g);

// The 12-byte record of a block in mode 2 or 3 (3 = alpha-aware), from its 16
// RGBA pixels and its colour list, built on the reference searches and on its
// own ordering, palette, code, index and packing code. If `found` is not null
// it receives the colours the search chose: E, F and G (0 after the pair
// search, which has no third colour).
void reference_encode_block12(const uint8_t block_rgba[64], const uint8_t* colour_list,
                              int colour_count, int mode, uint8_t record[12], uint16_t found[3]);

#endif
