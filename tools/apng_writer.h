// Animated PNG files made from RGBA pictures, for the tests and the fuzzer's
// seeds: each picture is encoded as a PNG of its own in one shared format,
// and its image data is spliced into the animation's IDAT or fdAT chunks.
// The result is a list of chunks, which a test may change before it is
// written out with every length and CRC right.
#ifndef VELT_TOOLS_APNG_WRITER_H
#define VELT_TOOLS_APNG_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

struct ApngChunk {
  std::string type;
  std::vector<uint8_t> data;
};

// How every picture is stored: PNG colour type and bit depth (a palette type
// gets the pictures' distinct colours, at most 256, with alpha in tRNS).
struct ApngFormat {
  uint8_t colour_type = 6;
  uint8_t bit_depth = 8;
  bool interlaced = false;
};

struct ApngPicture {
  uint32_t width, height;
  std::vector<uint8_t> rgba;
};

struct ApngFrameSpec {
  ApngPicture picture;
  uint32_t x = 0, y = 0;
  uint16_t delay_num = 1, delay_den = 10;
  uint8_t dispose_op = 0, blend_op = 0;
};

// The chunks of a width x height animation, IHDR to IEND. The first frame's
// data is the IDAT chunks unless `default_image` (of the canvas's size) is
// given, which then comes first and is not part of the animation. Each
// frame's image data is split over two chunks where it can be. Empty when
// lodepng cannot encode a picture.
std::vector<ApngChunk> apng_chunks(uint32_t width, uint32_t height, const ApngFormat& format,
                                   const std::vector<ApngFrameSpec>& frames,
                                   const ApngPicture* default_image = nullptr);

// The data of an fcTL chunk for `frame` with sequence number `sequence`.
std::vector<uint8_t> apng_frame_control(uint32_t sequence, const ApngFrameSpec& frame);

// Gives the fcTL and fdAT chunks the sequence numbers 0, 1, 2, ... in order.
void apng_renumber(std::vector<ApngChunk>& chunks);

// The file: signature, then each chunk with its length and CRC.
std::vector<uint8_t> apng_file(const std::vector<ApngChunk>& chunks);

// Writes `value` big-endian at data[at].
void apng_put32(std::vector<uint8_t>& data, size_t at, uint32_t value);

#endif
