// Spooling a frame stream: one loop copies the bytes into the spool file as
// they come and hands each piece to a walk that knows the framing, PNG images
// or raw frames. A walk keeps its place between pieces, so a field may be cut
// anywhere by the reads.
//
// The spool file is on disk ($TMPDIR, else /tmp), not in memory: a stream of
// raw frames can run to gigabytes, and a full disk is a clean write error
// where a full memory may not be.
#include "stream_spool.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "atomic_file.h"
#include "velt_format.h"

namespace {

constexpr size_t SPOOL_BUFFER_SIZE = 256 * 1024;

constexpr uint8_t PNG_SIGNATURE[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint32_t PNG_SIGNATURE_SIZE = sizeof PNG_SIGNATURE;
constexpr uint32_t PNG_MAX_CHUNK_LENGTH = 0x7FFFFFFF;
constexpr uint32_t CHUNK_FIELD_SIZE = 4;  // the length, the type and the CRC each
constexpr uint32_t CHUNK_FRAMING_SIZE = 3 * CHUNK_FIELD_SIZE;
constexpr uint32_t IEND_TYPE = uint32_t('I') << 24 | uint32_t('E') << 16 | uint32_t('N') << 8 | 'D';

const std::string kInput = "standard input";

std::string number(uint64_t value) { return std::to_string(value); }

std::string no_frames() { return kInput + " holds no frames"; }

std::string too_many_frames(uint64_t at) {
  return kInput + " holds more than " + number(VELT_MAX_FRAME_COUNT) +
         " frames, all a VELT file can count (frame " + number(VELT_MAX_FRAME_COUNT) +
         " starts at offset " + number(at) + ")";
}

// The walk through PNG images as their bytes come.
class PngWalk {
 public:
  // Takes the stream's next `size` bytes, adding each image that ends in them
  // to `frames`. False with `error` set at the first fault.
  bool take(const uint8_t* bytes, size_t size, std::vector<FrameSlice>* frames,
            std::string* error) {
    for (size_t i = 0; i < size;) {
      if (field_ == DATA) {
        // the data is skipped whole: only the framing is read byte by byte
        uint64_t skipped = std::min<uint64_t>(data_left_, size - i);
        data_left_ -= skipped;
        offset_ += skipped;
        i += size_t(skipped);
        if (data_left_ == 0) start(CRC);
        continue;
      }
      uint8_t byte = bytes[i++];
      ++offset_;
      ++have_;
      value_ = value_ << 8 | byte;
      switch (field_) {
        case SIGNATURE:
          if (have_ == 1) frame_start_ = offset_ - 1;
          if (byte != PNG_SIGNATURE[have_ - 1]) {
            *error = kInput + ": the bytes at offset " + number(frame_start_) +
                     " are not a PNG signature, where frame " + number(frames->size()) +
                     " should start";
            return false;
          }
          if (frames->size() == VELT_MAX_FRAME_COUNT) {
            *error = too_many_frames(frame_start_);
            return false;
          }
          if (have_ == PNG_SIGNATURE_SIZE) start(LENGTH);
          break;
        case LENGTH:
          if (have_ < CHUNK_FIELD_SIZE) break;
          if (!chunk_fits(frames->size(), error)) return false;
          length_ = value_;
          start(TYPE);
          break;
        case TYPE:
          if (have_ < CHUNK_FIELD_SIZE) break;
          is_end_ = value_ == IEND_TYPE;
          data_left_ = length_;
          start(length_ == 0 ? CRC : DATA);
          break;
        case CRC:
          if (have_ < CHUNK_FIELD_SIZE) break;
          if (is_end_) {
            frames->push_back({frame_start_, offset_ - frame_start_});
            start(SIGNATURE);
          } else {
            start(LENGTH);
          }
          break;
        case DATA:
          break;
      }
    }
    return true;
  }

  // The stream ended after `frames`: false with `error` set when it ended
  // inside an image or held none.
  bool finish(const std::vector<FrameSlice>& frames, std::string* error) const {
    if (field_ != SIGNATURE || have_ != 0) {
      *error = kInput + " ends inside frame " + number(frames.size()) + " (from offset " +
               number(frame_start_) + ") after " + number(offset_ - frame_start_) + " bytes";
      return false;
    }
    if (frames.empty()) *error = no_frames();
    return !frames.empty();
  }

 private:
  enum Field { SIGNATURE, LENGTH, TYPE, DATA, CRC };

  void start(Field field) {
    field_ = field;
    have_ = 0;
    value_ = 0;
  }

  // Whether the chunk whose length was just read may be taken: a length PNG
  // allows, and an image that stays within the size limit with it.
  bool chunk_fits(size_t frame, std::string* error) const {
    uint64_t chunk_start = offset_ - CHUNK_FIELD_SIZE;
    if (value_ > PNG_MAX_CHUNK_LENGTH) {
      *error = kInput + ": frame " + number(frame) + " has a chunk length of " + number(value_) +
               " at offset " + number(chunk_start) + ", above 2^31-1";
      return false;
    }
    if (chunk_start - frame_start_ + CHUNK_FRAMING_SIZE + value_ > MAX_SPOOLED_FRAME_BYTES) {
      *error = kInput + ": frame " + number(frame) + " (from offset " + number(frame_start_) +
               ") is larger than " + number(MAX_SPOOLED_FRAME_BYTES >> 20) +
               " MiB with its chunk of " + number(value_) + " bytes at offset " +
               number(chunk_start);
      return false;
    }
    return true;
  }

  Field field_ = SIGNATURE;
  uint32_t have_ = 0;   // bytes of the current field taken
  uint32_t value_ = 0;  // those bytes, big-endian
  uint32_t length_ = 0;  // the current chunk's data length
  uint64_t data_left_ = 0;
  bool is_end_ = false;  // the current chunk is IEND
  uint64_t offset_ = 0;  // of the next byte in the stream
  uint64_t frame_start_ = 0;
};

// The walk through raw frames of one size.
class RawWalk {
 public:
  explicit RawWalk(uint64_t frame_bytes) : frame_bytes_(frame_bytes) {}

  // As PngWalk's: only the count of bytes matters.
  bool take(const uint8_t*, size_t size, std::vector<FrameSlice>* frames, std::string* error) {
    const uint64_t limit = frame_bytes_ * VELT_MAX_FRAME_COUNT;
    const bool too_many = size > limit - offset_;
    // with too many, the frames up to the limit are still whole
    offset_ += too_many ? limit - offset_ : size;
    while (offset_ - next_start() >= frame_bytes_) {
      frames->push_back({next_start(), frame_bytes_});
      ++frames_found_;
    }
    if (too_many) *error = too_many_frames(limit);
    return !too_many;
  }

  // As PngWalk's; a cut frame is told with how many of its bytes came.
  bool finish(const std::vector<FrameSlice>& frames, std::string* error) const {
    if (offset_ != next_start()) {
      *error = kInput + " ends inside frame " + number(frames.size()) + " (from offset " +
               number(next_start()) + ") after " + number(offset_ - next_start()) + " of its " +
               number(frame_bytes_) + " bytes";
      return false;
    }
    if (frames.empty()) *error = no_frames();
    return !frames.empty();
  }

 private:
  uint64_t next_start() const { return frames_found_ * frame_bytes_; }

  uint64_t frame_bytes_;
  uint64_t offset_ = 0;
  uint64_t frames_found_ = 0;
};

// Waits until a descriptor opened without blocking has bytes (or its end);
// false with errno set when it cannot be waited for.
bool wait_readable(int fd) {
  pollfd entry{fd, POLLIN, 0};
  for (;;) {
    if (poll(&entry, 1, -1) >= 0) return true;
    if (errno != EINTR) return false;
  }
}

// A new unnamed file in $TMPDIR, or /tmp when that is unset or empty.
int open_spool_file(std::string* error) {
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string directory = tmpdir && *tmpdir ? tmpdir : "/tmp";
  std::string reason;
  int fd = open_unnamed_file_in(directory, &reason);
  if (fd < 0)
    *error = "cannot make a spool file for " + kInput + " in " + directory + ": " + reason;
  return fd;
}

// The loop both kinds of stream share: read a piece, write it to the spool
// file, hand it to the walk.
template <typename Walk>
SpoolResult spool(int in_fd, Walk& walk, SpooledFrames* out) {
  SpoolResult result;
  SpooledFrames spooled;
  spooled.fd = open_spool_file(&result.error);
  if (spooled.fd < 0) return result;

  std::vector<uint8_t> buffer(SPOOL_BUFFER_SIZE);
  uint64_t offset = 0;
  for (;;) {
    ssize_t got = read(in_fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    // a descriptor left without blocking by whoever opened it
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && wait_readable(in_fd)) continue;
    if (got < 0) {
      result.error = "cannot read " + kInput + " at offset " + number(offset) + ": " +
                     std::strerror(errno);
      break;
    }
    if (got == 0) {
      result.ok = walk.finish(spooled.frames, &result.error);
      break;
    }
    if (!write_all(spooled.fd, buffer.data(), size_t(got))) {
      result.error = "cannot write the spool file of " + kInput + " at offset " + number(offset) +
                     ": " + std::strerror(errno);
      break;
    }
    if (!walk.take(buffer.data(), size_t(got), &spooled.frames, &result.error)) break;
    offset += uint64_t(got);
  }
  *out = std::move(spooled);
  return result;
}

}  // namespace

SpooledFrames::~SpooledFrames() {
  if (fd >= 0) close(fd);
}

SpooledFrames::SpooledFrames(SpooledFrames&& other) noexcept
    : fd(std::exchange(other.fd, -1)), frames(std::move(other.frames)) {}

SpooledFrames& SpooledFrames::operator=(SpooledFrames&& other) noexcept {
  if (this != &other) {
    if (fd >= 0) close(fd);
    fd = std::exchange(other.fd, -1);
    frames = std::move(other.frames);
  }
  return *this;
}

SpoolResult spool_png_stream(int in_fd, SpooledFrames* out) {
  PngWalk walk;
  return spool(in_fd, walk, out);
}

SpoolResult spool_raw_stream(int in_fd, uint32_t width, uint32_t height, SpooledFrames* out) {
  // checked before the multiplication by 4, which could overflow
  const uint64_t pixels = uint64_t(width) * height;
  if (pixels == 0 || pixels > MAX_SPOOLED_FRAME_BYTES / 4) {
    SpoolResult refused;
    refused.error = kInput + ": raw frames of " + number(width) + "x" + number(height) +
                    (pixels == 0 ? " pixels hold no bytes"
                                 : " pixels are larger than " +
                                       number(MAX_SPOOLED_FRAME_BYTES >> 20) + " MiB");
    return refused;
  }
  RawWalk walk(pixels * 4);
  return spool(in_fd, walk, out);
}
