#include "png_checksums.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" {
#include "lodepng.h"

size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t max_size);
}

namespace {

const size_t kSignatureSize = 8;
const size_t kChunkOverhead = 12;  // length, type, CRC
const size_t kAdlerSize = 4;
// inflating stops here: a stream that gives more is left as it is
const size_t kMaxInflated = size_t{1} << 24;

uint32_t load_be32(const uint8_t* at) {
  return uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | at[3];
}

uint32_t adler32(const unsigned char* data, size_t size) {
  uint32_t a = 1, b = 0;
  for (size_t i = 0; i < size; ++i) {
    a = (a + data[i]) % 65521;
    b = (b + a) % 65521;
  }
  return b << 16 | a;
}

// Where the bytes of one zlib stream lie in the file: it may be cut across
// several chunks.
struct Stream {
  std::vector<uint8_t> bytes;
  std::vector<size_t> offsets;  // the file offset of each byte

  void add(const uint8_t* png, size_t offset, size_t size) {
    bytes.insert(bytes.end(), png + offset, png + offset + size);
    for (size_t i = 0; i < size; ++i) offsets.push_back(offset + i);
  }

  // Writes the Adler-32 of what the stream inflates to over its last four
  // bytes, where the decoder reads it.
  void fix_adler(uint8_t* png) const {
    if (bytes.size() < 2 + kAdlerSize) return;
    LodePNGDecompressSettings settings;
    lodepng_decompress_settings_init(&settings);
    settings.ignore_adler32 = 1;
    settings.max_output_size = kMaxInflated;
    unsigned char* out = nullptr;
    size_t out_size = 0;
    const unsigned error =
        lodepng_zlib_decompress(&out, &out_size, bytes.data(), bytes.size(), &settings);
    const uint32_t sum = error == 0 ? adler32(out, out_size) : 0;
    free(out);
    if (error != 0) return;
    for (size_t i = 0; i < kAdlerSize; ++i)
      png[offsets[bytes.size() - kAdlerSize + i]] = uint8_t(sum >> (8 * (kAdlerSize - 1 - i)));
  }
};

}  // namespace

void fix_png_checksums(uint8_t* png, size_t size) {
  std::vector<size_t> chunks;  // offsets of the whole chunks
  Stream image_data;
  std::vector<Stream> profiles;
  std::vector<Stream> frames;  // each animation frame's fdAT data, after an fcTL
  for (size_t at = kSignatureSize; at + kChunkOverhead <= size;) {
    const uint32_t length = load_be32(png + at);
    if (length > size - at - kChunkOverhead) break;
    chunks.push_back(at);
    const uint8_t* type = png + at + 4;
    const size_t data = at + 8;
    if (std::memcmp(type, "IDAT", 4) == 0) {
      image_data.add(png, data, length);
    } else if (std::memcmp(type, "fcTL", 4) == 0) {
      frames.emplace_back();
    } else if (std::memcmp(type, "fdAT", 4) == 0 && length >= 4 && !frames.empty()) {
      frames.back().add(png, data + 4, length - 4);  // after its sequence number
    } else if (std::memcmp(type, "iCCP", 4) == 0) {
      // a name ended by a NUL, the compression method, then the stream
      const void* end = std::memchr(png + data, 0, length);
      const size_t name = end ? static_cast<const uint8_t*>(end) - (png + data) : length;
      if (name + 2 < length) {
        profiles.emplace_back();
        profiles.back().add(png, data + name + 2, length - name - 2);
      }
    }
    at = data + length + 4;
  }
  image_data.fix_adler(png);
  for (const Stream& profile : profiles) profile.fix_adler(png);
  for (const Stream& frame : frames) frame.fix_adler(png);
  for (size_t at : chunks) lodepng_chunk_generate_crc(png + at);
}

size_t mutate_keeping_checksums(uint8_t* data, size_t size, size_t max_size, unsigned seed,
                                size_t png_at) {
  size = LLVMFuzzerMutate(data, size, max_size);
  if (seed % 8 != 0 && size > png_at) fix_png_checksums(data + png_at, size - png_at);
  return size;
}
