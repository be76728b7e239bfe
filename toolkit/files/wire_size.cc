#include "wire_size.h"

#include <brotli/encode.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// zlib counts input in 32-bit lengths, so the file goes in pieces, which
// changes nothing in the stream deflate writes.
constexpr size_t kDeflateInputPiece = size_t(1) << 18;
constexpr size_t kOutputPiece = size_t(1) << 16;

// deflateInit2's window bits: 15 for the 32 KiB window, +16 for the gzip
// wrapper; 8 is zlib's default memory level.
constexpr int kGzipWindowBits = 15 + 16;
constexpr int kMemoryLevel = 8;

constexpr uint32_t kBrotliQuality = 11;
// the size hint the brotli command gives its encoder: the file's size, at
// most 1 GiB
constexpr uint64_t kBrotliSizeHintLimit = uint64_t(1) << 30;

// The window the brotli command chooses for a file of `size` bytes: the
// smallest whose reach back covers the whole file, at most the format's
// largest.
int brotli_window_bits(uint64_t size) {
  int bits = BROTLI_MIN_WINDOW_BITS;
  while (bits < BROTLI_MAX_WINDOW_BITS && (uint64_t(1) << bits) - 16 < size) ++bits;
  return bits;
}

struct BrotliEncoderFree {
  void operator()(BrotliEncoderState* state) const { BrotliEncoderDestroyInstance(state); }
};

}  // namespace

bool gzip_stream(const uint8_t* data, size_t size, const ByteSink& sink, std::string* error) {
  z_stream stream{};
  int status = deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, kGzipWindowBits, kMemoryLevel,
                            Z_DEFAULT_STRATEGY);
  if (status != Z_OK) {
    *error = std::string("zlib cannot start a gzip stream: ") + (stream.msg ? stream.msg : zError(status));
    return false;
  }
  std::vector<uint8_t> out(kOutputPiece);
  size_t offset = 0;
  int flush = Z_NO_FLUSH;
  while (flush != Z_FINISH) {
    const size_t piece = std::min(size - offset, kDeflateInputPiece);
    stream.next_in = const_cast<Bytef*>(data + offset);
    stream.avail_in = uInt(piece);
    offset += piece;
    flush = offset == size ? Z_FINISH : Z_NO_FLUSH;
    // deflate until it leaves room in the output: the piece is then taken
    do {
      stream.next_out = out.data();
      stream.avail_out = uInt(out.size());
      status = deflate(&stream, flush);
      if (status == Z_STREAM_ERROR) break;
      sink(out.data(), out.size() - stream.avail_out);
    } while (stream.avail_out == 0);
    if (status == Z_STREAM_ERROR) break;
  }
  deflateEnd(&stream);
  if (status != Z_STREAM_END) {
    *error = std::string("zlib failed in the gzip stream: ") + zError(status);
    return false;
  }
  return true;
}

bool brotli_stream(const uint8_t* data, size_t size, const ByteSink& sink, std::string* error) {
  std::unique_ptr<BrotliEncoderState, BrotliEncoderFree> state(
      BrotliEncoderCreateInstance(nullptr, nullptr, nullptr));
  if (!state) {
    *error = "the brotli encoder cannot start: out of memory";
    return false;
  }
  BrotliEncoderSetParameter(state.get(), BROTLI_PARAM_QUALITY, kBrotliQuality);
  BrotliEncoderSetParameter(state.get(), BROTLI_PARAM_LGWIN, uint32_t(brotli_window_bits(size)));
  if (size > 0) {
    BrotliEncoderSetParameter(state.get(), BROTLI_PARAM_SIZE_HINT,
                              uint32_t(std::min<uint64_t>(size, kBrotliSizeHintLimit)));
  }
  size_t available_in = size;
  const uint8_t* next_in = data;
  // the encoder keeps its output until it is taken, so none is given to it
  while (!BrotliEncoderIsFinished(state.get())) {
    size_t available_out = 0;
    if (!BrotliEncoderCompressStream(state.get(), BROTLI_OPERATION_FINISH, &available_in, &next_in,
                                     &available_out, nullptr, nullptr)) {
      *error = "the brotli encoder failed (out of memory)";
      return false;
    }
    size_t taken = 0;
    const uint8_t* out = BrotliEncoderTakeOutput(state.get(), &taken);
    if (taken > 0) sink(out, taken);
  }
  return true;
}
