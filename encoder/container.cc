#include "container.h"

uint8_t header_rate_code(int32_t fps, int32_t flags) {
  // unsigned arithmetic: any fps wraps like the byte it ends up in
  uint32_t code = 2u * static_cast<uint32_t>(fps) - 1u;
  if (flags != 0)
    return static_cast<uint8_t>((code & VELT_RATE_MARKED_BITS) | VELT_RATE_FLAGS_MARK);
  return static_cast<uint8_t>(code & 0xFF);
}

void set_header_identity(uint8_t header[VELT_HEADER_SIZE], uint8_t rate_code) {
  for (int i = 0; i < VELT_MAGIC_SIZE; i++) header[VELT_OFFSET_MAGIC + i] = VELT_MAGIC[i];
  header[VELT_OFFSET_RESERVED] = VELT_RESERVED_VALUE;
  header[VELT_OFFSET_RATE_CODE] = rate_code;
}

void set_header_size(uint8_t header[VELT_HEADER_SIZE], uint32_t blocks_across,
                     uint32_t blocks_down) {
  header[VELT_OFFSET_WIDTH_CODE] = static_cast<uint8_t>(blocks_across - 1);
  header[VELT_OFFSET_HEIGHT_CODE] = static_cast<uint8_t>(blocks_down - 1);
}

void set_header_frame_count(uint8_t header[VELT_HEADER_SIZE], uint16_t frame_count) {
  header[VELT_OFFSET_FRAME_COUNT] = static_cast<uint8_t>(frame_count >> 8);
  header[VELT_OFFSET_FRAME_COUNT + 1] = static_cast<uint8_t>(frame_count & 0xFF);
}
