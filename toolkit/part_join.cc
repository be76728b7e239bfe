#include "part_join.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "atomic_file.h"
#include "velt_encoder.h"

namespace {

// Reads exactly `size` bytes at `offset`; false on an error or an early end.
bool read_at(int fd, uint8_t* into, size_t size, uint64_t offset) {
  while (size > 0) {
    ssize_t got = pread(fd, into, size, off_t(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    into += got;
    size -= size_t(got);
    offset += uint64_t(got);
  }
  return true;
}

bool known_result(int32_t result) {
  return result == VELT_OK || result == VELT_ERR_READ_FRAME ||
         result == VELT_ERR_NOT_MULTIPLE_OF_4 || result == VELT_ERR_SIZE_CHANGED ||
         result == VELT_ERR_DECODE_FRAME;
}

// The frames a part holds, for messages: "frames 4-7", "frame 4", "no frames from 4".
std::string frames_text(const PartInfo& part) {
  if (part.end == part.first) return "no frames from " + std::to_string(part.first);
  if (part.end == part.first + 1) return "frame " + std::to_string(part.first);
  return "frames " + std::to_string(part.first) + "-" + std::to_string(part.end - 1);
}

}  // namespace

PartSplit split_frames(int32_t frame_count, int32_t index, int32_t count) {
  auto boundary = [&](int32_t k) { return int32_t(int64_t(frame_count) * k / count); };
  return {boundary(index), boundary(index + 1), index == count - 1};
}

bool read_part_header(int fd, const std::string& name, PartInfo* part, std::string* error) {
  auto fail = [&](const std::string& reason) {
    *error = name + ": " + reason;
    return false;
  };
  struct stat st;
  if (fstat(fd, &st) != 0) return fail(std::strerror(errno));
  uint8_t h[VELT_PART_HEADER_SIZE];
  if (!S_ISREG(st.st_mode) || uint64_t(st.st_size) < sizeof h || !read_at(fd, h, sizeof h, 0) ||
      std::memcmp(h + VELT_PART_OFFSET_MAGIC, VELT_PART_MAGIC, VELT_PART_MAGIC_SIZE) != 0)
    return fail("not a part file");
  if (velt_part_get32(h + VELT_PART_OFFSET_VERSION) != VELT_PART_VERSION)
    return fail("a part file of another version");
  part->name = name;
  part->fd = fd;
  part->mode = velt_part_get32(h + VELT_PART_OFFSET_MODE);
  std::memcpy(part->velt_header, h + VELT_PART_OFFSET_HEADER, VELT_HEADER_SIZE);
  part->first = int32_t(velt_part_get32(h + VELT_PART_OFFSET_FIRST));
  part->end = int32_t(velt_part_get32(h + VELT_PART_OFFSET_END));
  uint32_t closing = velt_part_get32(h + VELT_PART_OFFSET_CLOSING);
  part->closing = closing == 1;
  part->result = int32_t(velt_part_get32(h + VELT_PART_OFFSET_RESULT));
  part->failing_frame = int32_t(velt_part_get32(h + VELT_PART_OFFSET_FAILING));
  part->frame0_hash = velt_part_get64(h + VELT_PART_OFFSET_FRAME0_HASH);
  part->before_hash = velt_part_get64(h + VELT_PART_OFFSET_BEFORE_HASH);
  part->last_hash = velt_part_get64(h + VELT_PART_OFFSET_LAST_HASH);
  part->payload_size = velt_part_get64(h + VELT_PART_OFFSET_PAYLOAD_SIZE);
  part->payload_hash = velt_part_get64(h + VELT_PART_OFFSET_PAYLOAD_HASH);
  const char* reason = reinterpret_cast<const char*>(h + VELT_PART_OFFSET_REASON);
  size_t reason_length = strnlen(reason, VELT_PART_REASON_SIZE);
  part->reason.assign(reason, reason_length);

  const uint8_t* header = part->velt_header;
  bool fields_valid =
      part->mode <= VELT_MODE_BITS &&
      std::memcmp(header + VELT_OFFSET_MAGIC, VELT_MAGIC, VELT_MAGIC_SIZE) == 0 &&
      header[VELT_OFFSET_FRAME_COUNT] == 0 && header[VELT_OFFSET_FRAME_COUNT + 1] == 0 &&
      header[VELT_OFFSET_WIDTH_CODE] <= VELT_MAX_SIZE_CODE &&
      header[VELT_OFFSET_HEIGHT_CODE] <= VELT_MAX_SIZE_CODE && part->first >= 0 &&
      part->end >= part->first && part->end <= VELT_MAX_FRAME_COUNT && closing <= 1 &&
      known_result(part->result) && (part->result == VELT_OK) == (part->failing_frame == -1) &&
      (part->result == VELT_OK || (part->closing && part->failing_frame == part->end)) &&
      reason_length < VELT_PART_REASON_SIZE;
  if (!fields_valid) return fail("a damaged part file: its header does not hold together");
  if (part->payload_size != uint64_t(st.st_size) - sizeof h)
    return fail("a damaged part file: it holds " + std::to_string(uint64_t(st.st_size) - sizeof h) +
                " bytes of records, not the " + std::to_string(part->payload_size) +
                " its header gives");
  return true;
}

bool join_parts(std::vector<PartInfo>& parts, int out_fd, JoinResult* result, std::string* error) {
  if (parts.empty()) {
    *error = "no parts to join";
    return false;
  }
  std::stable_sort(parts.begin(), parts.end(), [](const PartInfo& a, const PartInfo& b) {
    return a.first != b.first ? a.first < b.first : a.end < b.end;
  });
  const PartInfo& reference = parts.front();
  for (const PartInfo& part : parts) {
    if (part.mode != reference.mode ||
        std::memcmp(part.velt_header, reference.velt_header, VELT_HEADER_SIZE) != 0 ||
        part.frame0_hash != reference.frame0_hash) {
      *error = part.name + " belongs to another sequence than " + reference.name +
               " (another frame 0, size, mode or rate)";
      return false;
    }
  }

  // the chain from frame 0 to the part with the closing record
  size_t used = 0;
  int32_t next = 0;
  uint64_t last_hash = 0;
  const PartInfo* previous = nullptr;
  for (; used < parts.size(); ++used) {
    const PartInfo& part = parts[used];
    if (part.first > next) {
      *error = "no part holds frame " + std::to_string(next) + " (the next part, " + part.name +
               ", holds " + frames_text(part) + ")";
      return false;
    }
    if (part.first < next) {
      *error = part.name + " holds " + frames_text(part) + ", which " + previous->name +
               " holds already";
      return false;
    }
    if (part.before_hash != last_hash) {
      *error = part.name + " does not follow " + (previous ? previous->name : "frame 0") +
               ": they were encoded from different frames";
      return false;
    }
    next = part.end;
    last_hash = part.last_hash;
    previous = &part;
    if (part.closing) break;
  }
  if (used == parts.size()) {
    *error = "no part holds frame " + std::to_string(next) + " or ends the animation";
    return false;
  }

  uint8_t header[VELT_HEADER_SIZE];
  std::memcpy(header, reference.velt_header, sizeof header);
  header[VELT_OFFSET_FRAME_COUNT] = uint8_t(next >> 8);
  header[VELT_OFFSET_FRAME_COUNT + 1] = uint8_t(next & 0xFF);
  if (!write_all(out_fd, header, sizeof header)) {
    *error = std::strerror(errno);
    result->write_failed = true;
    return false;
  }
  std::vector<uint8_t> buffer(1 << 16);
  for (size_t i = 0; i <= used; ++i) {
    const PartInfo& part = parts[i];
    uint64_t hash = VELT_PART_HASH_START;
    for (uint64_t done = 0; done < part.payload_size;) {
      size_t chunk = size_t(std::min<uint64_t>(buffer.size(), part.payload_size - done));
      if (!read_at(part.fd, buffer.data(), chunk, VELT_PART_HEADER_SIZE + done)) {
        *error = part.name + ": cannot read its records";
        return false;
      }
      hash = velt_part_hash(hash, buffer.data(), chunk);
      if (!write_all(out_fd, buffer.data(), chunk)) {
        *error = std::strerror(errno);
        result->write_failed = true;
        return false;
      }
      done += chunk;
    }
    if (hash != part.payload_hash) {
      *error = part.name + ": a damaged part file: its records do not match their hash";
      return false;
    }
  }
  result->frame_count = next;
  result->last = &parts[used];
  return true;
}
