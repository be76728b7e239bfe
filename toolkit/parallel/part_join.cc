#include "part_join.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "atomic_file.h"
#include "velt_encoder.h"
#include "velt_reader.h"

namespace {

constexpr size_t CHUNK_SIZE = size_t(1) << 18;

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

enum class StreamFault { NONE, READ, WRITE };

// Reads `size` bytes of `fd` from `offset` on, chunk by chunk: hashed into
// `hash` unless it is null, written to `out_fd` unless it is -1.
StreamFault stream_bytes(int fd, uint64_t offset, uint64_t size, uint64_t* hash, int out_fd) {
  std::vector<uint8_t> buffer(size_t(std::min<uint64_t>(CHUNK_SIZE, size)));
  for (uint64_t done = 0; done < size;) {
    size_t chunk = size_t(std::min<uint64_t>(buffer.size(), size - done));
    if (!read_at(fd, buffer.data(), chunk, offset + done)) return StreamFault::READ;
    if (hash) *hash = velt_part_hash(*hash, buffer.data(), chunk);
    if (out_fd >= 0 && !write_all(out_fd, buffer.data(), chunk)) return StreamFault::WRITE;
    done += chunk;
  }
  return StreamFault::NONE;
}

// A descriptor that is closed with its owner; -1 for none.
class OwnedFd {
 public:
  explicit OwnedFd(int fd = -1) : fd_(fd) {}
  ~OwnedFd() {
    if (fd_ >= 0) close(fd_);
  }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// A part's descriptor while it is read: the source's own, or its path
// opened for the time being (not blocked by a FIFO: anything but a regular
// file is refused when read).
class OpenPart {
 public:
  explicit OpenPart(const PartSource& source)
      : opened_(source.fd < 0 ? open(source.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK) : -1),
        fd_(source.fd < 0 ? opened_.get() : source.fd) {}
  int fd() const { return fd_; }
  // true when the part may have changed since it was checked
  bool from_path() const { return opened_.get() >= 0; }

 private:
  OwnedFd opened_;
  int fd_;
};

bool known_result(int32_t result) {
  return result == VELT_OK || result == VELT_ERR_READ_FRAME ||
         result == VELT_ERR_NOT_MULTIPLE_OF_4 || result == VELT_ERR_SIZE_CHANGED ||
         result == VELT_ERR_DECODE_FRAME;
}

// The most bytes the records of `part` can take: each holds a change map and
// at most every block.
uint64_t largest_payload(const PartInfo& part) {
  uint64_t blocks = uint64_t(part.velt_header[VELT_OFFSET_WIDTH_CODE] + 1) *
                    (part.velt_header[VELT_OFFSET_HEIGHT_CODE] + 1);
  uint64_t record = VELT_CHANGE_MAP_SIZE(blocks) + blocks * VELT_RECORD_SIZE(part.mode);
  uint64_t records = uint64_t(part.end - part.first) + (part.closing ? 1 : 0);
  return records * record;
}

// Reads the header `h` of a part of `file_size` bytes into `part` and checks
// its magic, its version, that its fields hold together, that its frames'
// records can be as large as the payload it announces, and that the file
// holds exactly that payload.
bool parse_part_header(const uint8_t* h, uint64_t file_size, const PartSource& source,
                       PartInfo* part, std::string* error) {
  auto fail = [&](const std::string& reason) {
    *error = source.name + ": " + reason;
    return false;
  };
  if (std::memcmp(h + VELT_PART_OFFSET_MAGIC, VELT_PART_MAGIC, VELT_PART_MAGIC_SIZE) != 0)
    return fail("not a part file");
  if (velt_part_get32(h + VELT_PART_OFFSET_VERSION) != VELT_PART_VERSION)
    return fail("a part file of another version");
  part->source = source;
  part->mode = velt_part_get32(h + VELT_PART_OFFSET_MODE);
  part->tolerance = velt_part_get32(h + VELT_PART_OFFSET_TOLERANCE);
  part->refresh_interval = velt_part_get32(h + VELT_PART_OFFSET_REFRESH);
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
  part->hash = velt_part_get64(h + VELT_PART_OFFSET_HASH);
  const char* reason = reinterpret_cast<const char*>(h + VELT_PART_OFFSET_REASON);
  size_t reason_length = strnlen(reason, VELT_PART_REASON_SIZE);
  part->reason.assign(reason, reason_length);

  const uint8_t* header = part->velt_header;
  bool fields_valid =
      part->mode <= VELT_MODE_BITS && part->tolerance <= VELT_MAX_TOLERANCE &&
      part->refresh_interval > 0 &&
      std::memcmp(header + VELT_OFFSET_MAGIC, VELT_MAGIC, VELT_MAGIC_SIZE) == 0 &&
      header[VELT_OFFSET_FRAME_COUNT] == 0 && header[VELT_OFFSET_FRAME_COUNT + 1] == 0 &&
      header[VELT_OFFSET_WIDTH_CODE] <= VELT_MAX_SIZE_CODE &&
      header[VELT_OFFSET_HEIGHT_CODE] <= VELT_MAX_SIZE_CODE && part->first >= 0 &&
      part->end >= part->first && part->end <= VELT_MAX_FRAME_COUNT && closing <= 1 &&
      (part->first > 0 || part->before_hash == 0) &&
      (part->end > part->first || part->last_hash == part->before_hash) &&
      known_result(part->result) && (part->result == VELT_OK) == (part->failing_frame == -1) &&
      (part->result == VELT_OK || (part->closing && part->failing_frame == part->end)) &&
      reason_length < VELT_PART_REASON_SIZE;
  if (!fields_valid) return fail("a damaged part file: its header does not hold together");
  uint64_t records_size = file_size - VELT_PART_HEADER_SIZE;
  if (part->payload_size != records_size)
    return fail("a damaged part file: it holds " + std::to_string(records_size) +
                " bytes of records, not the " + std::to_string(part->payload_size) +
                " its header gives");
  if (part->payload_size > largest_payload(*part))
    return fail("a damaged part file: its header gives " + std::to_string(part->payload_size) +
                " bytes of records, more than the records of its frames can take");
  return true;
}

// Reads the header of the part at `fd` into `h`; false with `error` when it
// is no regular file or too short to hold one.
bool read_header_bytes(int fd, const PartSource& source, uint8_t (&h)[VELT_PART_HEADER_SIZE],
                       uint64_t* file_size, std::string* error) {
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *error = source.name + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode) || uint64_t(st.st_size) < sizeof h || !read_at(fd, h, sizeof h, 0)) {
    *error = source.name + ": not a part file";
    return false;
  }
  *file_size = uint64_t(st.st_size);
  return true;
}

// The frames a part holds, for messages: "frames 4-7", "frame 4", "no frames from 4".
std::string frames_text(const PartInfo& part) {
  if (part.end == part.first) return "no frames from " + std::to_string(part.first);
  if (part.end == part.first + 1) return "frame " + std::to_string(part.first);
  return "frames " + std::to_string(part.first) + "-" + std::to_string(part.end - 1);
}

// The refusal of two parts that hold different pictures of `frame`.
bool refuse_changed_frame(int32_t frame, const PartInfo& earlier, const PartInfo& later,
                          JoinPlan* plan, std::string* error) {
  plan->changed_frame = frame;
  // with a tolerance the parts are chained by every frame since the last
  // refresh frame, any of which may be the one that differs
  const int32_t window_first = velt_part_first_read(frame + 1, int32_t(later.tolerance));
  const std::string frames = window_first < frame ? "one of frames " + std::to_string(window_first) +
                                                        "-" + std::to_string(frame)
                                                  : "frame " + std::to_string(frame);
  *error = frames + " is another picture in " + later.source.name + " than in " +
           earlier.source.name +
           ": they were encoded from different frames, or the frame changed between the encodings";
  return false;
}

// Checks the joined file at `fd` (of `size` bytes expected) with the reader,
// and names the part whose records a fault lies in.
bool read_back(int fd, uint64_t size, const std::vector<PartInfo>& parts, const JoinPlan& plan,
               std::string* error) {
  struct stat st;
  if (fstat(fd, &st) != 0 || uint64_t(st.st_size) != size) {
    *error = "the joined file cannot be read back";
    return false;
  }
  void* mapped = mmap(nullptr, size_t(size), PROT_READ, MAP_SHARED, fd, 0);
  if (mapped == MAP_FAILED) {
    *error = std::string("the joined file cannot be read back: ") + std::strerror(errno);
    return false;
  }
  VeltLayout layout;
  ReadError fault;
  bool valid = read_velt_layout(static_cast<const uint8_t*>(mapped), size_t(size),
                                BlockMode(parts[0].mode), &layout, &fault);
  munmap(mapped, size_t(size));
  if (valid) return true;
  // the part whose records hold the fault, or end where the file ends too early
  size_t at = 0;
  for (uint64_t start = VELT_HEADER_SIZE; at + 1 < plan.part_count; ++at) {
    start += parts[at].payload_size;
    if (fault.offset < start) break;
  }
  *error = parts[at].source.name + ": its records do not make a valid file: " + fault.reason +
           " (at byte " + std::to_string(fault.offset) + " of the joined file)";
  return false;
}

}  // namespace

PartSplit split_frames(int32_t frame_count, int32_t index, int32_t count, int32_t tolerance) {
  auto boundary = [&](int32_t k) {
    if (k == 0) return 0;
    if (k == count) return frame_count;
    int32_t balanced = int32_t(std::min<int64_t>(int64_t(frame_count + 2) * k / count, frame_count));
    if (tolerance == 0) return balanced;
    int64_t after_refresh =
        int64_t(balanced - 1 + VELT_REFRESH_INTERVAL / 2) / VELT_REFRESH_INTERVAL * VELT_REFRESH_INTERVAL + 1;
    int64_t slack = int64_t(frame_count) / count / 4;
    return std::abs(after_refresh - balanced) <= slack && after_refresh <= frame_count
               ? int32_t(after_refresh)
               : balanced;
  };
  return {boundary(index), boundary(index + 1), index == count - 1};
}

bool check_part(const PartSource& source, PartInfo* part, std::string* error) {
  OpenPart open_part(source);
  if (open_part.fd() < 0) {
    *error = source.name + ": " + std::strerror(errno);
    return false;
  }
  uint8_t h[VELT_PART_HEADER_SIZE];
  uint64_t file_size = 0;
  if (!read_header_bytes(open_part.fd(), source, h, &file_size, error) ||
      !parse_part_header(h, file_size, source, part, error))
    return false;
  uint64_t hash = VELT_PART_HASH_START;
  if (stream_bytes(open_part.fd(), VELT_PART_HEADER_SIZE, part->payload_size, &hash, -1) !=
      StreamFault::NONE) {
    *error = source.name + ": cannot read its records";
    return false;
  }
  if (velt_part_file_hash(hash, h) != part->hash) {
    *error = source.name + ": a damaged part file: its records and header do not match its hash";
    return false;
  }
  return true;
}

bool plan_join(std::vector<PartInfo>& parts, JoinPlan* plan, std::string* error) {
  *plan = JoinPlan{};
  if (parts.empty()) {
    *error = "no parts to join";
    return false;
  }
  std::stable_sort(parts.begin(), parts.end(), [](const PartInfo& a, const PartInfo& b) {
    return a.first != b.first ? a.first < b.first : a.end < b.end;
  });
  const PartInfo& reference = parts.front();
  for (const PartInfo& part : parts) {
    const uint8_t rate = part.velt_header[VELT_OFFSET_RATE_CODE];
    const bool same_settings = part.mode == reference.mode &&
                               rate == reference.velt_header[VELT_OFFSET_RATE_CODE] &&
                               part.tolerance == reference.tolerance &&
                               part.refresh_interval == reference.refresh_interval;
    // another frame 0 (of any size) in the same mode and rate: a changed frame
    if (same_settings && part.frame0_hash != reference.frame0_hash)
      return refuse_changed_frame(0, reference, part, plan, error);
    if (!same_settings ||
        std::memcmp(part.velt_header, reference.velt_header, VELT_HEADER_SIZE) != 0) {
      *error = part.source.name + " belongs to another sequence than " + reference.source.name +
               " (another size, mode, rate or tolerance)";
      return false;
    }
  }

  // the chain from frame 0 to the part with the closing record
  size_t used = 0;
  int32_t next = 0;
  const PartInfo* previous = nullptr;
  for (; used < parts.size(); ++used) {
    const PartInfo& part = parts[used];
    if (part.first > next) {
      *error = "no part holds frame " + std::to_string(next) + " (the next part, " +
               part.source.name + ", holds " + frames_text(part) + ")";
      return false;
    }
    if (part.first < next) {
      *error = part.source.name + " holds " + frames_text(part) + ", which " +
               previous->source.name + " holds already";
      return false;
    }
    // a part from frame 0 has nothing before it (its header says so)
    if (previous && part.before_hash != previous->last_hash)
      return refuse_changed_frame(part.first - 1, *previous, part, plan, error);
    next = part.end;
    previous = &part;
    if (part.closing) break;
  }
  if (used == parts.size()) {
    *error = "no part holds frame " + std::to_string(next) + " or ends the animation";
    return false;
  }
  if (next == 0) {
    *error = parts[used].source.name + " ends the animation before frame 0: it would hold no frame";
    return false;
  }
  plan->part_count = used + 1;
  plan->frame_count = next;
  plan->last = &parts[used];
  return true;
}

bool write_join(const std::vector<PartInfo>& parts, const JoinPlan& plan, int out_fd,
                bool* write_failed, std::string* error) {
  *write_failed = false;
  auto failed_writing = [&](const std::string& reason) {
    *error = reason;
    *write_failed = true;
    return false;
  };
  uint8_t header[VELT_HEADER_SIZE];
  std::memcpy(header, parts[0].velt_header, sizeof header);
  header[VELT_OFFSET_FRAME_COUNT] = uint8_t(plan.frame_count >> 8);
  header[VELT_OFFSET_FRAME_COUNT + 1] = uint8_t(plan.frame_count & 0xFF);
  if (!write_all(out_fd, header, sizeof header)) return failed_writing(std::strerror(errno));
  uint64_t size = sizeof header;
  for (size_t i = 0; i < plan.part_count; ++i) {
    const PartInfo& part = parts[i];
    OpenPart open_part(part.source);
    if (open_part.fd() < 0) {
      *error = part.source.name + ": " + std::strerror(errno);
      return false;
    }
    // a part read from its path may have changed since it was checked: it is
    // hashed again on the way
    const bool rehash = open_part.from_path();
    uint8_t h[VELT_PART_HEADER_SIZE];
    uint64_t hash = VELT_PART_HASH_START;
    bool unchanged = !rehash || read_at(open_part.fd(), h, sizeof h, 0);
    if (unchanged) {
      StreamFault fault = stream_bytes(open_part.fd(), VELT_PART_HEADER_SIZE, part.payload_size,
                                       rehash ? &hash : nullptr, out_fd);
      if (fault == StreamFault::WRITE) return failed_writing(std::strerror(errno));
      unchanged = fault == StreamFault::NONE &&
                  (!rehash || velt_part_file_hash(hash, h) == part.hash);
    }
    if (!unchanged) {
      *error = part.source.name + ": the part changed while it was joined";
      return false;
    }
    size += part.payload_size;
  }
  return read_back(out_fd, size, parts, plan, error);
}
