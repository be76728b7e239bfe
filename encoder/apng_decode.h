// Animated PNG input: a PNG whose animation control chunk (acTL) comes before
// its image data, with a frame control chunk (fcTL) for each frame and the
// frames' image data in IDAT or frame data (fdAT) chunks. The shape is that of
// every animation decoder (animation_frames.h): open, next frame, close.
//
// Each frame is decoded by the PNG decoder as a PNG of its own, built from the
// file's header with the frame's size, its palette and transparency chunks
// and its image data, so the inflated data is bounded by the frame's size
// (png_bounded_decode.h). The input bytes stay the caller's and must stay
// alive between apng_open and apng_close.
#ifndef VELT_APNG_DECODE_H
#define VELT_APNG_DECODE_H

#include <stddef.h>
#include <stdint.h>

#include "animation_frames.h"

// The decoder's own error codes, above every code of the PNG decoder, whose
// codes apng_error_text words too.
enum ApngError {
  APNG_NOT_ANIMATED = 1000,
  APNG_CHUNK_TRUNCATED,
  APNG_CHUNK_CRC,
  APNG_CHUNK_SIZE,
  APNG_CHUNK_PLACE,
  APNG_SEQUENCE,
  APNG_FRAME_COUNT,
  APNG_TOO_MANY_FRAMES,
  APNG_CANVAS_TOO_LARGE,
  APNG_REGION,
  APNG_FIRST_REGION,
  APNG_OPERATION,
  APNG_NO_FRAME_DATA,
  APNG_NO_MORE_FRAMES,
  APNG_OUT_OF_MEMORY,
};

// What a frame does to the canvas after it has been shown.
enum ApngDispose { APNG_DISPOSE_NONE = 0, APNG_DISPOSE_BACKGROUND = 1, APNG_DISPOSE_PREVIOUS = 2 };
// How a frame meets the canvas: replacing its region, or composited over it.
enum ApngBlend { APNG_BLEND_SOURCE = 0, APNG_BLEND_OVER = 1 };

// One frame as its control chunk and the file's layout give it.
struct ApngFrame {
  uint32_t x, y, width, height;                 // the region, inside the canvas
  uint16_t delay_numerator, delay_denominator;  // as in the file
  uint8_t dispose_op, blend_op;
  bool from_image_data;         // its data is the IDAT chunks, not fdAT ones
  size_t data_begin, data_end;  // the file's chunks [begin, end) that hold its data
  size_t data_size;             // the bytes of the IDAT chunks its PNG gets
};

// All of a decoder's state; the caller owns it. Fields are read-only for
// the caller: width and height (the canvas) and frame_count are set by a
// successful apng_open.
struct ApngDecoder {
  const unsigned char* data;
  size_t size;
  uint32_t width, height, frame_count;
  ApngFrame* frames;
  size_t image_data_begin;  // the first IDAT chunk
  size_t palette_bytes;     // the PLTE and tRNS chunks before it, whole
  uint32_t next_frame;      // the frame apng_next_frame decodes
  unsigned error;           // the first failure of apng_next_frame, returned again
  unsigned char* png;       // the frame's own PNG, built anew for each frame
  size_t png_capacity;
  unsigned char* saved;     // a canvas-sized store for APNG_DISPOSE_PREVIOUS
};

// True when `data` starts with the PNG signature and has an acTL chunk before
// its first IDAT chunk: an animated PNG. Any other PNG is a still picture.
// Reads chunk headers only, never past `size`.
bool apng_signature(const unsigned char* data, size_t size);

// Walks every chunk of the file without inflating anything: checks each
// chunk's length against the data and its CRC, reads IHDR, acTL and every
// fcTL, and checks the sequence numbers of fcTL and fdAT chunks (0, 1, 2, ...
// in file order), that each frame's region is non-empty and inside the canvas,
// that acTL's frame count equals the fcTL chunks found and that each frame has
// image data. Refuses a canvas side above `max_side` (or one whose RGBA bytes
// would not fit a size_t) and more than ANIMATION_MAX_FRAMES frames before
// taking any memory that depends on them. Returns 0 or an error code; on
// failure nothing is held, and apng_close may still be called.
unsigned apng_open(ApngDecoder* decoder, const unsigned char* data, size_t size, unsigned max_side);

inline uint32_t apng_width(const ApngDecoder* decoder) { return decoder->width; }
inline uint32_t apng_height(const ApngDecoder* decoder) { return decoder->height; }
inline uint32_t apng_frame_count(const ApngDecoder* decoder) { return decoder->frame_count; }

// How long frame `frame` (below frame_count) is shown; a denominator of 0
// becomes 100 (hundredths), a numerator of 0 stays 0.
FrameDelay apng_frame_delay(const ApngDecoder* decoder, uint32_t frame);

// Composites the next frame onto `canvas` (width x height RGBA, all zero
// before the first call, afterwards as the previous call left it): first the
// previous frame's disposal, then this frame blended into its region. A first
// frame's APNG_DISPOSE_PREVIOUS acts as APNG_DISPOSE_BACKGROUND, and the first
// frame replaces its region whatever its blend operation. Returns 0, the PNG
// decoder's code for a frame it cannot decode, APNG_NO_MORE_FRAMES after the
// last frame, or another error code; after a failure the canvas is not
// meaningful and every later call fails the same way.
unsigned apng_next_frame(ApngDecoder* decoder, unsigned char* canvas);

// Frees what the decoder took; the decoder may be opened again.
void apng_close(ApngDecoder* decoder);

// The text of one of the decoder's codes or of a PNG decoder's code.
const char* apng_error_text(unsigned code);

#endif
