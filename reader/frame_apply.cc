// Applies one frame record to the picture: the stored blocks replace theirs.
#include <cstring>

#include "velt_format.h"
#include "velt_reader.h"

void apply_frame_record(const uint8_t* data, const VeltLayout& layout, size_t index,
                        std::vector<uint8_t>* picture) {
  if (index >= layout.records.size()) return;
  const VeltHeader& header = layout.header;
  const size_t row_bytes = size_t(header.width) * 4;
  picture->resize(row_bytes * size_t(header.height));

  const size_t blocks = size_t(header.blocks_across) * size_t(header.blocks_down);
  const uint8_t* change_map = data + layout.records[index].offset;
  const uint8_t* record = change_map + VELT_CHANGE_MAP_SIZE(blocks);
  const size_t record_size = size_t(record_size_of(layout.mode));
  uint8_t rgba[64];
  for (size_t k = 0; k < blocks; ++k) {
    if ((change_map[k / 8] & (0x80 >> (k % 8))) == 0) continue;
    decode_block(record, layout.mode, rgba);
    record += record_size;
    const size_t x = k % size_t(header.blocks_across) * 4;
    const size_t y = k / size_t(header.blocks_across) * 4;
    for (size_t row = 0; row < 4; ++row)
      memcpy(picture->data() + (y + row) * row_bytes + x * 4, rgba + 16 * row, 16);
  }
}
