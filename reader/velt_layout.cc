// Checks the layout of an untrusted VELT file: the header, then every frame
// record's change map and block records, up to the closing record.
#include <algorithm>
#include <string>

#include "velt_format.h"
#include "velt_reader.h"

namespace {

bool refuse(ReadError* error, uint64_t offset, std::string reason) {
  error->offset = offset;
  error->reason = std::move(reason);
  return false;
}

std::string frame_record(uint64_t index) { return "frame record " + std::to_string(index); }

bool read_header(const uint8_t* data, size_t size, VeltHeader* header, ReadError* error) {
  for (size_t i = 0; i < VELT_MAGIC_SIZE && i < size; ++i)
    if (data[VELT_OFFSET_MAGIC + i] != VELT_MAGIC[i])
      return refuse(error, VELT_OFFSET_MAGIC, "magic is not VELT");
  if (size < VELT_HEADER_SIZE) return refuse(error, size, "file ends inside the header");
  if (data[VELT_OFFSET_RESERVED] != VELT_RESERVED_VALUE)
    return refuse(error, VELT_OFFSET_RESERVED, "reserved byte is not 0");

  const uint8_t rate_code = data[VELT_OFFSET_RATE_CODE];
  header->rate_code = rate_code;
  header->flags_marked = (rate_code & VELT_RATE_FLAGS_MARK) != 0;
  const int rate = header->flags_marked ? rate_code & VELT_RATE_MARKED_BITS : rate_code;
  header->fps = (rate + 1) / 2;
  const uint8_t* count = data + VELT_OFFSET_FRAME_COUNT;
  header->frame_count = uint16_t(count[0] << 8 | count[1]);
  if (header->frame_count == 0) return refuse(error, VELT_OFFSET_FRAME_COUNT, "frame count is 0");
  const uint8_t width_code = data[VELT_OFFSET_WIDTH_CODE];
  const uint8_t height_code = data[VELT_OFFSET_HEIGHT_CODE];
  if (width_code > VELT_MAX_SIZE_CODE)
    return refuse(error, VELT_OFFSET_WIDTH_CODE,
                  "width code 255 is above 254 (frames are below 1024 pixels)");
  if (height_code > VELT_MAX_SIZE_CODE)
    return refuse(error, VELT_OFFSET_HEIGHT_CODE,
                  "height code 255 is above 254 (frames are below 1024 pixels)");
  header->blocks_across = width_code + 1;
  header->blocks_down = height_code + 1;
  header->width = VELT_BLOCK_SIDE * header->blocks_across;
  header->height = VELT_BLOCK_SIDE * header->blocks_down;
  return true;
}

// Checks the change map at `map`: no padding bit set, and in record 0 every
// block stored. Counts the stored blocks.
bool check_change_map(const uint8_t* map, uint64_t offset, uint64_t blocks, uint64_t index,
                      uint32_t* changed, ReadError* error) {
  const uint64_t map_size = VELT_CHANGE_MAP_SIZE(blocks);
  const unsigned tail_bits = blocks % 8;
  uint32_t count = 0;
  for (uint64_t i = 0; i < map_size; ++i) {
    const uint8_t block_bits =
        (i + 1 < map_size || tail_bits == 0) ? 0xFF : uint8_t(0xFF << (8 - tail_bits));
    if (map[i] & ~block_bits)
      return refuse(error, offset + i,
                    "padding bits of the change map of " + frame_record(index) + " are set");
    if (index == 0 && map[i] != block_bits)
      return refuse(error, offset + i, "change map of frame record 0 does not store every block");
    count += __builtin_popcount(map[i]);
  }
  *changed = count;
  return true;
}

}  // namespace

int record_size_of(BlockMode mode) { return VELT_RECORD_SIZE(mode); }

bool read_velt_layout(const uint8_t* data, size_t size, BlockMode mode, VeltLayout* layout,
                      ReadError* error) {
  VeltHeader header;
  if (!read_header(data, size, &header, error)) return false;
  const BlockMode used_mode = header.flags_marked ? mode : MODE_OPAQUE;

  const uint64_t blocks = uint64_t(header.blocks_across) * uint64_t(header.blocks_down);
  const uint64_t map_size = VELT_CHANGE_MAP_SIZE(blocks);
  const uint64_t record_size = uint64_t(record_size_of(used_mode));
  const uint64_t records_wanted = uint64_t(header.frame_count) + 1;
  const uint64_t file_size = size;

  std::vector<FrameRecordSpan> records;
  // every frame record holds at least its change map
  records.reserve(std::min(records_wanted, (file_size - VELT_HEADER_SIZE) / map_size));
  uint64_t offset = VELT_HEADER_SIZE;
  for (uint64_t index = 0; index < records_wanted; ++index) {
    if (offset == file_size)
      return refuse(error, offset,
                    "file ends before " + frame_record(index) + "; frame count " +
                        std::to_string(header.frame_count) + " needs " +
                        std::to_string(records_wanted) + " frame records");
    if (file_size - offset < map_size)
      return refuse(error, file_size,
                    "file ends inside the change map of " + frame_record(index));
    uint32_t changed = 0;
    if (!check_change_map(data + offset, offset, blocks, index, &changed, error)) return false;
    const uint64_t blocks_size = uint64_t(changed) * record_size;
    const uint64_t available = file_size - offset - map_size;
    if (available < blocks_size)
      return refuse(error, file_size,
                    "file ends inside the block records of " + frame_record(index) + " (" +
                        std::to_string(available / record_size) + " of " +
                        std::to_string(changed) + " complete)");
    records.push_back(FrameRecordSpan{offset, map_size + blocks_size, changed});
    offset += map_size + blocks_size;
  }
  if (offset != file_size)
    return refuse(error, offset,
                  "trailing bytes after the closing record (" +
                      std::to_string(file_size - offset) + " bytes)");

  layout->header = header;
  layout->mode = used_mode;
  layout->records = std::move(records);
  return true;
}
