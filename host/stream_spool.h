// Frames that arrive as one stream (a pipe on standard input, or a file),
// copied into an unnamed file and cut into one slice a frame, for the module
// to read through the file services. The host walks only the framing: the
// images' contents are left to the module, which decodes them sandboxed.
#ifndef VELT_STREAM_SPOOL_H
#define VELT_STREAM_SPOOL_H

#include <cstdint>
#include <string>
#include <vector>

// One frame's bytes in the spool file.
struct FrameSlice {
  uint64_t offset;
  uint64_t length;
};

// A spooled stream: an unnamed file on disk that holds the stream's bytes,
// and where each frame lies in it. Move-only; the file closes with it. The
// file is read with pread only, so forked workers may share the descriptor.
struct SpooledFrames {
  int fd = -1;
  std::vector<FrameSlice> frames;

  SpooledFrames() = default;
  ~SpooledFrames();
  SpooledFrames(SpooledFrames&& other) noexcept;
  SpooledFrames& operator=(SpooledFrames&& other) noexcept;
  SpooledFrames(const SpooledFrames&) = delete;
  SpooledFrames& operator=(const SpooledFrames&) = delete;
};

struct SpoolResult {
  bool ok = false;
  // when not ok: what is wrong and where, naming standard input, e.g.
  // "standard input ends inside frame 2 (from offset 4096) after 17 bytes"
  std::string error;
};

// The largest frame taken, PNG image or raw frame: far above what a picture
// below 1024 pixels a side needs, low enough that a broken stream is refused
// before it fills the disk with one frame.
constexpr uint64_t MAX_SPOOLED_FRAME_BYTES = uint64_t(256) << 20;

// Copies the stream on `in_fd` into a new unnamed file in $TMPDIR (or /tmp),
// through one fixed buffer whatever the stream's size, and finds each PNG
// image in it: the 8-byte signature, then chunks (a 4-byte big-endian length
// of at most 2^31-1, a 4-byte type, the data, a 4-byte CRC) up to and
// including the IEND chunk. Images follow one another with nothing between
// them. Nothing else of the bytes is looked at, not even the CRCs.
//
// Fails on a stream without images, bytes that are not a signature where an
// image starts (trailing bytes too), a stream that ends inside an image, a
// chunk length above 2^31-1, an image above MAX_SPOOLED_FRAME_BYTES, more
// than 65535 images (reading stops at the first byte of the next), a read
// error, or a spool file that cannot be made or written. `in_fd` is read until
// its end or the failure and left open. Once the spool file is made, `out`
// gets it and the images found, also after a failure: those before it are
// whole, so a caller may still use them.
SpoolResult spool_png_stream(int in_fd, SpooledFrames* out);

// As spool_png_stream, for raw RGBA frames of width * height * 4 bytes each,
// one after another. Fails also on a frame size of 0 or above
// MAX_SPOOLED_FRAME_BYTES, before anything is read or made.
SpoolResult spool_raw_stream(int in_fd, uint32_t width, uint32_t height, SpooledFrames* out);

#endif
