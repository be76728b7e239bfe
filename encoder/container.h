// The VELT file header: magic, rate code, frame count and size in blocks.
#ifndef VELT_CONTAINER_H
#define VELT_CONTAINER_H

#include <stdint.h>

#include "velt_format.h"

// The header's rate code: 2 * fps - 1 in a byte; with any flag set, its low
// seven bits with bit 7 marking a non-default mode.
uint8_t header_rate_code(int32_t fps, int32_t flags);

// Writes the magic "VELT", the reserved byte and the rate code.
void set_header_identity(uint8_t header[VELT_HEADER_SIZE], uint8_t rate_code);
// Writes the size codes: blocks across and down, each minus one.
void set_header_size(uint8_t header[VELT_HEADER_SIZE], uint32_t blocks_across,
                     uint32_t blocks_down);
// Writes the frame count, big-endian.
void set_header_frame_count(uint8_t header[VELT_HEADER_SIZE], uint16_t frame_count);

#endif
