#include "container.h"

uint8_t header_rate_code(int32_t fps, int32_t flags) {
  // unsigned arithmetic: any fps wraps like the byte it ends up in
  uint32_t code = 2u * static_cast<uint32_t>(fps) - 1u;
  if (flags != 0) return static_cast<uint8_t>((code & 0x7F) | 0x80);
  return static_cast<uint8_t>(code & 0xFF);
}

void set_header_identity(uint8_t header[HEADER_SIZE], uint8_t rate_code) {
  header[0] = 'V';
  header[1] = 'E';
  header[2] = 'L';
  header[3] = 'T';
  header[4] = 0;
  header[5] = rate_code;
}

void set_header_size(uint8_t header[HEADER_SIZE], uint32_t blocks_across, uint32_t blocks_down) {
  header[8] = static_cast<uint8_t>(blocks_across - 1);
  header[9] = static_cast<uint8_t>(blocks_down - 1);
}

void set_header_frame_count(uint8_t header[HEADER_SIZE], uint16_t frame_count) {
  header[6] = static_cast<uint8_t>(frame_count >> 8);
  header[7] = static_cast<uint8_t>(frame_count & 0xFF);
}
