// Change detection between two frames and the change map that records it.
#ifndef VELT_CHANGE_MAP_H
#define VELT_CHANGE_MAP_H

#include <stdint.h>

// Sets change_flags[k] to 1 for every block that differs between the two
// frames and to 0 for every other block, in block index order.
void detect_changes(const uint8_t* current, const uint8_t* previous, uint32_t width,
                    uint32_t height, uint8_t* change_flags);

// Packs one bit per block into `map`, the first block of each byte in its top
// bit, unused low bits of the last byte zero. Returns the map size in bytes.
uint32_t pack_change_map(const uint8_t* change_flags, uint32_t block_count, uint8_t* map);

#endif
