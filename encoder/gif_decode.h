// GIF decoding (GIF87a and GIF89a) onto a canvas, frame after frame, as a
// browser shows the animation; the shape is animation_frames.h's.
//
// Choices where the format leaves room:
// - A frame with neither a local nor a global colour table is refused by
//   gif_open: it has no colours to draw. An index past the end of the frame's
//   table draws opaque black.
// - The LZW minimum code size must be 2 to 8, as GIF89a asks (two-colour
//   images included): with 1, the table's first free entry (4) does not fit
//   the first code width (2 bits). gif_open refuses other sizes.
// - Image data that ends (its end code, or its last sub-block) before the
//   frame's rectangle is full leaves the rest of the rectangle as it was.
//   Codes after the rectangle is full are not read.
// - Disposal methods 4..7, which GIF89a leaves undefined, keep the frame as 0
//   and 1 do. Disposal 2 clears the frame's rectangle to transparent black.
// - A file may end without its trailer after a whole block, and a byte that
//   opens no known block ends the file as the trailer does; a file that ends
//   inside a block is refused by gif_open.
// - The parts of a frame's rectangle outside the canvas are not drawn; a
//   frame wholly outside it draws nothing.
#ifndef VELT_GIF_DECODE_H
#define VELT_GIF_DECODE_H

#include <stddef.h>
#include <stdint.h>

#include "animation_frames.h"

enum GifError {
  GIF_OK = 0,
  GIF_NOT_GIF,
  GIF_TRUNCATED,
  GIF_CANVAS_SIDE,
  GIF_CANVAS_TOO_LARGE,
  GIF_TOO_MANY_FRAMES,
  GIF_NO_FRAMES,
  GIF_NO_COLOUR_TABLE,
  GIF_CODE_SIZE,
  GIF_CODE_PAST_TABLE,
  GIF_OUT_OF_MEMORY,
  GIF_NO_FRAME_LEFT,
  GIF_CHANGED,
};

struct GifDecodeWork;  // the LZW table and a row of indices (gif_decode.cc)

// All of a decoder's state; the caller owns it. Set by gif_open, read-only
// for the caller.
struct GifDecoder {
  const unsigned char* data;  // the caller's bytes
  size_t size;
  uint32_t width, height;  // the logical screen: the canvas
  uint32_t frame_count;
  uint16_t* delays;     // each frame's delay in hundredths, frame_count of them
  size_t global_table;  // offset of the global colour table, if global_count > 0
  uint32_t global_count;
  size_t position;  // where the next frame's blocks start
  uint32_t next_frame;
  unsigned error;  // once a frame fails, every later call reports it
  // what the previous frame leaves behind, and the canvas rectangle it covered
  uint8_t disposal;
  uint32_t x0, y0, x1, y1;
  unsigned char* saved;  // the canvas under a disposal-3 frame
  size_t saved_capacity;
  uint32_t row_capacity;  // the widest frame
  GifDecodeWork* work;
};

// Reads the header and the logical screen and walks every block (extensions,
// image descriptors, sub-block chains) without decoding image data: fills
// width, height, frame_count and each frame's delay. Refuses a canvas side of
// 0 or above max_side, a canvas whose RGBA bytes do not fit a size_t, and
// more than ANIMATION_MAX_FRAMES frames, before taking any memory that
// depends on them. `data` must stay alive and unchanged until gif_close.
// Takes about 50 KiB and the widest frame's width, 2 bytes a frame, and, when
// a frame has disposal 3, 4 bytes a pixel of the largest part of the canvas
// such a frame covers. Returns 0 or a GifError; after a failure the decoder
// holds nothing.
unsigned gif_open(GifDecoder* decoder, const unsigned char* data, size_t size, unsigned max_side);

// The delay of frame `frame`, in hundredths of a second as the file gives it
// (0 stays 0); {0, 100} for a frame that does not exist.
FrameDelay gif_frame_delay(const GifDecoder* decoder, uint32_t frame);

// Applies the previous frame's disposal to `canvas` (width * height * 4 bytes
// of RGBA, all zero before the first call, afterwards what the previous call
// left), then draws the next frame onto it: its transparent pixels leave the
// canvas as it is, every other pixel is written opaque. Returns 0 or a
// GifError; after a failure the canvas may hold part of the frame.
unsigned gif_next_frame(GifDecoder* decoder, unsigned char* canvas);

// Frees what the decoder took; the decoder may be opened again. Safe after a
// failed gif_open and twice over.
void gif_close(GifDecoder* decoder);

// The text of a GifError.
const char* gif_error_text(unsigned code);

// True when data starts with "GIF87a" or "GIF89a".
bool gif_signature(const unsigned char* data, size_t size);

#endif
