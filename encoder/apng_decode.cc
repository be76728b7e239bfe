#include "apng_decode.h"

#include <stdlib.h>
#include <string.h>

#include "png_bounded_decode.h"
#include "png_decoder.h"

namespace {

const unsigned char kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
// the signature and the IHDR chunk, which lodepng_inspect checks
const size_t kHeaderEnd = 33;
// a chunk's length, type and CRC around its data
const size_t kChunkOverhead = 12;
// no chunk's data is longer
const uint32_t kMaxChunkLength = 0x7fffffff;
const uint32_t kAnimationControlLength = 8;
const uint32_t kFrameControlLength = 26;
// the sequence number that opens an fdAT chunk's data
const uint32_t kSequenceLength = 4;
// an IEND chunk: no data, then its type's CRC
const unsigned char kEndChunk[kChunkOverhead] = {0,   0,   0,    0,    'I',  'E',
                                                 'N', 'D', 0xae, 0x42, 0x60, 0x82};

uint32_t read32(const unsigned char* p) {
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

uint16_t read16(const unsigned char* p) { return (uint16_t)(p[0] << 8 | p[1]); }

void write32(unsigned char* p, uint32_t value) {
  p[0] = (unsigned char)(value >> 24);
  p[1] = (unsigned char)(value >> 16);
  p[2] = (unsigned char)(value >> 8);
  p[3] = (unsigned char)value;
}

bool type_is(const unsigned char* chunk, const char* type) {
  return memcmp(chunk + 4, type, 4) == 0;
}

// The whole size of the chunk at `at` (at most `size`), or 0 when it does not
// lie whole inside the data.
size_t chunk_size(const unsigned char* data, size_t size, size_t at) {
  if (size - at < kChunkOverhead) return 0;
  uint32_t length = read32(data + at);
  if (length > kMaxChunkLength || length > size - at - kChunkOverhead) return 0;
  return kChunkOverhead + length;
}

// What one walk over the chunks finds.
struct Walk {
  bool animated;             // an acTL chunk seen
  uint32_t declared_frames;  // acTL's frame count
  uint32_t frame_count;      // fcTL chunks seen
  uint32_t sequence;         // the sequence number the next fcTL or fdAT must carry
  size_t image_data_begin;   // the first IDAT chunk, 0 before one
  bool image_data_over;      // an fcTL or fdAT after the IDAT chunks: no IDAT may follow
  size_t palette_bytes;      // PLTE and tRNS chunks before the first IDAT
};

// Reads an fcTL chunk's data into `frame`, checking its region and operations.
unsigned read_frame_control(const unsigned char* body, uint32_t canvas_width,
                            uint32_t canvas_height, bool from_image_data, ApngFrame* frame) {
  memset(frame, 0, sizeof *frame);
  frame->width = read32(body + 4);
  frame->height = read32(body + 8);
  frame->x = read32(body + 12);
  frame->y = read32(body + 16);
  frame->delay_numerator = read16(body + 20);
  frame->delay_denominator = read16(body + 22);
  frame->dispose_op = body[24];
  frame->blend_op = body[25];
  frame->from_image_data = from_image_data;
  if (frame->width == 0 || frame->height == 0 || (uint64_t)frame->x + frame->width > canvas_width ||
      (uint64_t)frame->y + frame->height > canvas_height)
    return APNG_REGION;
  // the IDAT chunks hold a picture of the canvas's size
  if (from_image_data && (frame->width != canvas_width || frame->height != canvas_height))
    return APNG_FIRST_REGION;
  if (frame->dispose_op > APNG_DISPOSE_PREVIOUS || frame->blend_op > APNG_BLEND_OVER)
    return APNG_OPERATION;
  return 0;
}

// Ends the frame whose data ran up to the chunk at `at`: it must have some.
unsigned end_frame(ApngFrame* frame, size_t at, ApngFrame* frames, uint32_t index) {
  if (frame->data_begin == 0) return APNG_NO_FRAME_DATA;
  frame->data_end = at;
  if (frames != nullptr) frames[index] = *frame;
  return 0;
}

// Walks the chunks after IHDR up to IEND and checks the animation's
// structure; with `frames`, also records each frame there. The CRCs are
// checked when `check_crc` is set (the first walk).
unsigned walk_chunks(const ApngDecoder* decoder, bool check_crc, ApngFrame* frames, Walk* walk) {
  memset(walk, 0, sizeof *walk);
  const unsigned char* data = decoder->data;
  const size_t size = decoder->size;
  ApngFrame frame;
  memset(&frame, 0, sizeof frame);
  size_t at = kHeaderEnd;
  for (;;) {
    const size_t whole = chunk_size(data, size, at);
    if (whole == 0) return APNG_CHUNK_TRUNCATED;  // IEND is missing too
    const unsigned char* chunk = data + at;
    const unsigned char* body = chunk + 8;
    const uint32_t length = (uint32_t)(whole - kChunkOverhead);
    if (check_crc && lodepng_crc32(chunk + 4, 4 + (size_t)length) != read32(body + length))
      return APNG_CHUNK_CRC;

    if (type_is(chunk, "IEND")) break;
    if (type_is(chunk, "acTL")) {
      if (walk->animated || walk->image_data_begin != 0) return APNG_CHUNK_PLACE;
      if (length != kAnimationControlLength) return APNG_CHUNK_SIZE;
      walk->animated = true;
      walk->declared_frames = read32(body);
      if (walk->declared_frames > ANIMATION_MAX_FRAMES) return APNG_TOO_MANY_FRAMES;
    } else if (type_is(chunk, "fcTL")) {
      if (length != kFrameControlLength) return APNG_CHUNK_SIZE;
      if (read32(body) != walk->sequence++) return APNG_SEQUENCE;
      if (walk->frame_count > 0) {
        unsigned error = end_frame(&frame, at, frames, walk->frame_count - 1);
        if (error != 0) return error;
      }
      if (walk->frame_count == ANIMATION_MAX_FRAMES) return APNG_TOO_MANY_FRAMES;
      walk->frame_count++;
      const bool from_image_data = walk->image_data_begin == 0;
      unsigned error =
          read_frame_control(body, decoder->width, decoder->height, from_image_data, &frame);
      if (error != 0) return error;
      if (!from_image_data) walk->image_data_over = true;
    } else if (type_is(chunk, "fdAT")) {
      if (length < kSequenceLength) return APNG_CHUNK_SIZE;
      if (read32(body) != walk->sequence++) return APNG_SEQUENCE;
      // only a frame whose control chunk follows the IDAT chunks has fdAT data
      if (walk->frame_count == 0 || frame.from_image_data) return APNG_CHUNK_PLACE;
      if (frame.data_begin == 0) frame.data_begin = at;
      frame.data_size += whole - kSequenceLength;
      walk->image_data_over = true;
    } else if (type_is(chunk, "IDAT")) {
      if (walk->image_data_over) return APNG_CHUNK_PLACE;
      if (walk->image_data_begin == 0) walk->image_data_begin = at;
      // with a frame before them, the IDAT chunks are its data; else the
      // default image, which is not part of the animation
      if (walk->frame_count > 0) {
        if (frame.data_begin == 0) frame.data_begin = at;
        frame.data_size += whole;
      }
    } else if (walk->image_data_begin == 0 && (type_is(chunk, "PLTE") || type_is(chunk, "tRNS"))) {
      walk->palette_bytes += whole;
    }
    at += whole;
  }
  if (!walk->animated) return APNG_NOT_ANIMATED;
  if (walk->image_data_begin == 0) return APNG_NO_FRAME_DATA;
  if (walk->frame_count > 0) {
    unsigned error = end_frame(&frame, at, frames, walk->frame_count - 1);
    if (error != 0) return error;
  }
  if (walk->frame_count == 0 || walk->frame_count != walk->declared_frames) return APNG_FRAME_COUNT;
  return 0;
}

// Builds the frame's own PNG in decoder->png: the file's signature and IHDR
// with the frame's size, the PLTE and tRNS chunks before the first IDAT (the
// only ones before it that change decoded pixels), the frame's data as IDAT
// chunks, and IEND.
unsigned build_frame_png(ApngDecoder* decoder, const ApngFrame* frame, size_t* png_size) {
  const unsigned char* data = decoder->data;
  const size_t size = decoder->size;
  // no overflow: the terms are sizes of distinct chunks of the file, and 45
  const size_t need = kHeaderEnd + decoder->palette_bytes + frame->data_size + kChunkOverhead;
  if (need > decoder->png_capacity) {
    unsigned char* grown = (unsigned char*)realloc(decoder->png, need);
    if (grown == nullptr) return APNG_OUT_OF_MEMORY;
    decoder->png = grown;
    decoder->png_capacity = need;
  }
  unsigned char* out = decoder->png;
  memcpy(out, data, kHeaderEnd);
  write32(out + 16, frame->width);
  write32(out + 20, frame->height);
  write32(out + 29, lodepng_crc32(out + 12, 17));
  size_t n = kHeaderEnd;
  // the walk in apng_open checked every chunk here: a size of 0 cannot occur,
  // but would loop for ever
  for (size_t at = kHeaderEnd, whole; at < decoder->image_data_begin; at += whole) {
    whole = chunk_size(data, size, at);
    if (whole == 0) return APNG_CHUNK_TRUNCATED;
    if (type_is(data + at, "PLTE") || type_is(data + at, "tRNS")) {
      memcpy(out + n, data + at, whole);
      n += whole;
    }
  }
  for (size_t at = frame->data_begin, whole; at < frame->data_end; at += whole) {
    whole = chunk_size(data, size, at);
    if (whole == 0) return APNG_CHUNK_TRUNCATED;
    const unsigned char* chunk = data + at;
    if (frame->from_image_data && type_is(chunk, "IDAT")) {
      memcpy(out + n, chunk, whole);
      n += whole;
    } else if (!frame->from_image_data && type_is(chunk, "fdAT")) {
      const uint32_t length = (uint32_t)(whole - kChunkOverhead - kSequenceLength);
      write32(out + n, length);
      memcpy(out + n + 4, "IDAT", 4);
      memcpy(out + n + 8, chunk + 8 + kSequenceLength, length);
      write32(out + n + 8 + length, lodepng_crc32(out + n + 4, 4 + (size_t)length));
      n += kChunkOverhead + length;
    }
  }
  memcpy(out + n, kEndChunk, kChunkOverhead);
  *png_size = n + kChunkOverhead;
  return 0;
}

// Where row `row` of the frame's region starts in a canvas-sized picture.
size_t region_offset(const ApngDecoder* decoder, const ApngFrame* frame, uint32_t row) {
  return ((size_t)(frame->y + row) * decoder->width + frame->x) * 4;
}

// Copies the frame's region from one canvas-sized picture into another.
void copy_region(const ApngDecoder* decoder, const ApngFrame* frame, unsigned char* to,
                 const unsigned char* from) {
  for (uint32_t row = 0; row < frame->height; row++) {
    size_t offset = region_offset(decoder, frame, row);
    memcpy(to + offset, from + offset, (size_t)frame->width * 4);
  }
}

// `source` over `target`, straight (not premultiplied) RGBA in exact
// integers. With alpha in 0..255 and A = sa * 255 + da * (255 - sa), which is
// 255 times the resulting alpha sa + da * (255 - sa) / 255:
//   alpha  = A / 255, rounded to nearest
//   colour = (sc * sa * 255 + dc * da * (255 - sa)) / A, rounded to nearest
// An opaque source replaces the target, a transparent one leaves it.
void blend_over(unsigned char* target, const unsigned char* source) {
  const uint32_t sa = source[3];
  if (sa == 255) {
    memcpy(target, source, 4);
    return;
  }
  if (sa == 0) return;
  const uint32_t da = target[3];
  const uint32_t alpha = sa * 255 + da * (255 - sa);  // never 0: sa is not
  for (int c = 0; c < 3; c++) {
    const uint32_t sum = source[c] * sa * 255 + target[c] * da * (255 - sa);
    target[c] = (unsigned char)((sum + alpha / 2) / alpha);
  }
  target[3] = (unsigned char)((alpha + 127) / 255);
}

// Puts the frame's decoded pixels into its region: replacing it, or over it.
void draw_frame(const ApngDecoder* decoder, const ApngFrame* frame, const unsigned char* pixels,
                bool over, unsigned char* canvas) {
  const size_t row_bytes = (size_t)frame->width * 4;
  for (uint32_t row = 0; row < frame->height; row++) {
    unsigned char* target = canvas + region_offset(decoder, frame, row);
    const unsigned char* source = pixels + row * row_bytes;
    if (!over) {
      memcpy(target, source, row_bytes);
      continue;
    }
    for (size_t i = 0; i < row_bytes; i += 4) blend_over(target + i, source + i);
  }
}

// Disposes of the frame before `index`, then draws frame `index`.
unsigned composite_frame(ApngDecoder* decoder, uint32_t index, unsigned char* canvas) {
  const ApngFrame* frame = &decoder->frames[index];
  size_t png_size = 0;
  unsigned error = build_frame_png(decoder, frame, &png_size);
  if (error != 0) return error;
  unsigned char* pixels = nullptr;
  unsigned width = 0, height = 0;
  error = decode_png_rgba(&pixels, &width, &height, decoder->png, png_size);
  if (error != 0) return error;
  // a first frame has no canvas before it to go back to
  const bool keep_previous = index > 0 && frame->dispose_op == APNG_DISPOSE_PREVIOUS;
  if (keep_previous && decoder->saved == nullptr) {
    // open checked that the canvas's bytes fit a size_t
    decoder->saved = (unsigned char*)malloc((size_t)decoder->width * decoder->height * 4);
    if (decoder->saved == nullptr) {
      free(pixels);
      return APNG_OUT_OF_MEMORY;
    }
  }

  if (index > 0) {
    const ApngFrame* previous = frame - 1;
    if (previous->dispose_op == APNG_DISPOSE_BACKGROUND ||
        (previous->dispose_op == APNG_DISPOSE_PREVIOUS && index == 1)) {
      for (uint32_t row = 0; row < previous->height; row++) {
        memset(canvas + region_offset(decoder, previous, row), 0, (size_t)previous->width * 4);
      }
    } else if (previous->dispose_op == APNG_DISPOSE_PREVIOUS) {
      copy_region(decoder, previous, canvas, decoder->saved);
    }
  }
  if (keep_previous) copy_region(decoder, frame, decoder->saved, canvas);
  // the canvas is empty before a first frame: it replaces whatever its blend
  draw_frame(decoder, frame, pixels, index > 0 && frame->blend_op == APNG_BLEND_OVER, canvas);
  free(pixels);
  return 0;
}

}  // namespace

bool apng_signature(const unsigned char* data, size_t size) {
  if (size < sizeof kSignature || memcmp(data, kSignature, sizeof kSignature) != 0) return false;
  for (size_t at = sizeof kSignature;;) {
    const size_t whole = chunk_size(data, size, at);
    if (whole == 0 || type_is(data + at, "IDAT")) return false;
    if (type_is(data + at, "acTL")) return true;
    at += whole;
  }
}

unsigned apng_open(ApngDecoder* decoder, const unsigned char* data, size_t size,
                   unsigned max_side) {
  memset(decoder, 0, sizeof *decoder);
  decoder->data = data;
  decoder->size = size;
  // signature and IHDR: sides not 0, a valid colour type and bit depth, CRC
  LodePNGState state;
  lodepng_state_init(&state);
  unsigned width = 0, height = 0;
  unsigned error = lodepng_inspect(&width, &height, &state, data, size);
  lodepng_state_cleanup(&state);
  if (error != 0) return error;
  if (!apng_signature(data, size)) return APNG_NOT_ANIMATED;
  if (width > max_side || height > max_side || width > SIZE_MAX / 4 / height)
    return APNG_CANVAS_TOO_LARGE;
  decoder->width = width;
  decoder->height = height;

  // the first walk checks everything, the second records the frames in
  // memory the first one bounded
  Walk walk;
  error = walk_chunks(decoder, true, nullptr, &walk);
  if (error == 0) {
    decoder->frames = (ApngFrame*)malloc(walk.frame_count * sizeof(ApngFrame));
    error = decoder->frames == nullptr ? (unsigned)APNG_OUT_OF_MEMORY
                                       : walk_chunks(decoder, false, decoder->frames, &walk);
  }
  if (error != 0) {
    apng_close(decoder);
    return error;
  }
  decoder->frame_count = walk.frame_count;
  decoder->image_data_begin = walk.image_data_begin;
  decoder->palette_bytes = walk.palette_bytes;
  return 0;
}

FrameDelay apng_frame_delay(const ApngDecoder* decoder, uint32_t frame) {
  FrameDelay delay = {0, 100};
  if (frame >= decoder->frame_count) return delay;
  const ApngFrame* f = &decoder->frames[frame];
  delay.numerator = f->delay_numerator;
  if (f->delay_denominator != 0) delay.denominator = f->delay_denominator;
  return delay;
}

unsigned apng_next_frame(ApngDecoder* decoder, unsigned char* canvas) {
  if (decoder->error != 0) return decoder->error;
  if (decoder->next_frame >= decoder->frame_count) return APNG_NO_MORE_FRAMES;
  unsigned error = composite_frame(decoder, decoder->next_frame, canvas);
  if (error != 0) {
    decoder->error = error;
    return error;
  }
  decoder->next_frame++;
  return 0;
}

void apng_close(ApngDecoder* decoder) {
  free(decoder->frames);
  free(decoder->png);
  free(decoder->saved);
  memset(decoder, 0, sizeof *decoder);
}

const char* apng_error_text(unsigned code) {
  switch (code) {
    case APNG_NOT_ANIMATED:
      return "no animation control chunk before the image data";
    case APNG_CHUNK_TRUNCATED:
      return "a chunk runs past the end of the file, or IEND is missing";
    case APNG_CHUNK_CRC:
      return "a chunk's CRC does not match its contents";
    case APNG_CHUNK_SIZE:
      return "an animation chunk has the wrong size";
    case APNG_CHUNK_PLACE:
      return "an animation or image data chunk is out of place";
    case APNG_SEQUENCE:
      return "an fcTL or fdAT chunk's sequence number is out of order";
    case APNG_FRAME_COUNT:
      return "the frame count does not match the frame control chunks";
    case APNG_TOO_MANY_FRAMES:
      return "more frames than an animation may have";
    case APNG_CANVAS_TOO_LARGE:
      return "the canvas is larger than allowed";
    case APNG_REGION:
      return "a frame's region is empty or outside the canvas";
    case APNG_FIRST_REGION:
      return "a frame whose data is the IDAT chunks does not cover the whole canvas";
    case APNG_OPERATION:
      return "a frame's dispose or blend operation is unknown";
    case APNG_NO_FRAME_DATA:
      return "a frame has no image data";
    case APNG_NO_MORE_FRAMES:
      return "every frame has been decoded";
    case APNG_OUT_OF_MEMORY:
      return "out of memory";
    default:
      return lodepng_error_text(code);
  }
}
