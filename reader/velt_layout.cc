// Checks the layout of an untrusted VELT file: the header, then every frame
// record's change map and block records, up to the closing record.
#include <algorithm>
#include <string>

#include "velt_reader.h"

namespace {

const uint8_t kMagic[4] = {'V', 'E', 'L', 'T'};
const uint64_t kHeaderSize = 10;
const uint8_t kFlagsMarked = 0x80;  // rate code bit 7: non-zero encoding flags
const int kMaxSizeCode = 254;       // frames are below 1024 pixels

bool refuse(ReadError* error, uint64_t offset, std::string reason) {
  error->offset = offset;
  error->reason = std::move(reason);
  return false;
}

std::string frame_record(uint64_t index) { return "frame record " + std::to_string(index); }

bool read_header(const uint8_t* data, size_t size, VeltHeader* header, ReadError* error) {
  for (size_t i = 0; i < sizeof kMagic && i < size; ++i)
    if (data[i] != kMagic[i]) return refuse(error, 0, "magic is not VELT");
  if (size < kHeaderSize) return refuse(error, size, "file ends inside the header");
  if (data[4] != 0) return refuse(error, 4, "reserved byte is not 0");

  header->rate_code = data[5];
  header->flags_marked = (data[5] & kFlagsMarked) != 0;
  const int rate = header->flags_marked ? data[5] & 0x7F : data[5];
  header->fps = (rate + 1) / 2;
  header->frame_count = uint16_t(data[6] << 8 | data[7]);
  if (header->frame_count == 0) return refuse(error, 6, "frame count is 0");
  if (data[8] > kMaxSizeCode)
    return refuse(error, 8, "width code 255 is above 254 (frames are below 1024 pixels)");
  if (data[9] > kMaxSizeCode)
    return refuse(error, 9, "height code 255 is above 254 (frames are below 1024 pixels)");
  header->blocks_across = data[8] + 1;
  header->blocks_down = data[9] + 1;
  header->width = 4 * header->blocks_across;
  header->height = 4 * header->blocks_down;
  return true;
}

// Checks the change map at `map`: no padding bit set, and in record 0 every
// block stored. Counts the stored blocks.
bool check_change_map(const uint8_t* map, uint64_t offset, uint64_t blocks, uint64_t index,
                      uint32_t* changed, ReadError* error) {
  const uint64_t map_size = (blocks + 7) / 8;
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

int record_size_of(BlockMode mode) { return (mode & 2) ? 12 : 8; }

bool read_velt_layout(const uint8_t* data, size_t size, BlockMode mode, VeltLayout* layout,
                      ReadError* error) {
  VeltHeader header;
  if (!read_header(data, size, &header, error)) return false;
  const BlockMode used_mode = header.flags_marked ? mode : MODE_OPAQUE;

  const uint64_t blocks = uint64_t(header.blocks_across) * uint64_t(header.blocks_down);
  const uint64_t map_size = (blocks + 7) / 8;
  const uint64_t record_size = uint64_t(record_size_of(used_mode));
  const uint64_t records_wanted = uint64_t(header.frame_count) + 1;
  const uint64_t file_size = size;

  std::vector<FrameRecordSpan> records;
  // every frame record holds at least its change map
  records.reserve(std::min(records_wanted, (file_size - kHeaderSize) / map_size));
  uint64_t offset = kHeaderSize;
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
