// An animation file (GIF, or PNG with an animation control chunk) as a run's
// frames: its pictures composited in order, each held for a whole number of
// periods at the run's rate (frame_timing.h), so that frame n of the run is
// whichever picture is showing at period n.
#ifndef VELT_ANIMATION_INPUT_H
#define VELT_ANIMATION_INPUT_H

#include <stddef.h>
#include <stdint.h>

#include "apng_decode.h"
#include "gif_decode.h"

enum AnimationKind { ANIMATION_NONE = 0, ANIMATION_GIF, ANIMATION_APNG };

// Which animation format `data` is in, by its first bytes.
AnimationKind animation_kind(const unsigned char* data, size_t size);

enum AnimationStatus {
  ANIMATION_OK = 0,
  ANIMATION_TOO_LARGE,  // the canvas has a side above the limit; its size is given
  ANIMATION_TOO_LONG,   // held at the rate, more frames than a file can count
  ANIMATION_UNDECODABLE,  // the decoder refused it; see `reason`
  ANIMATION_NO_MEMORY,
};

struct AnimationInput {
  AnimationKind kind;
  unsigned char* data;  // the file's bytes, owned
  size_t size;
  GifDecoder gif;
  ApngDecoder apng;
  uint32_t width;  // the canvas
  uint32_t height;
  uint32_t source_frames;
  int32_t rate;
  uint32_t frames;  // after holding
  uint32_t timing_error_us;  // the largest of any frame
  uint32_t* starts;  // the first held frame of each source frame, source_frames + 1 entries
  unsigned char* canvas;
  int32_t decoded;  // the source frame the canvas shows, or -1
  const char* reason;  // the decoder's text of a failure
  unsigned max_side;
};

// Takes `data` (of `kind`, read whole; freed by animation_close even on
// failure) and reads its structure: canvas, frames, delays. The rate is
// `fps`, or chosen from the delays when it is 0. A canvas side above
// `max_side` is refused before anything is decoded.
AnimationStatus animation_open(AnimationInput* input, AnimationKind kind, unsigned char* data,
                               size_t size, int32_t fps, unsigned max_side);

// Makes the canvas show held frame `number` (< frames): decodes forward, or
// from the start again for an earlier picture. Returns ANIMATION_OK or
// ANIMATION_UNDECODABLE (with `reason`).
AnimationStatus animation_show(AnimationInput* input, uint32_t number);

// The first held frame after `number` that shows another picture, or
// `frames` when `number` shows the last.
uint32_t animation_next_picture(const AnimationInput* input, uint32_t number);

void animation_close(AnimationInput* input);

#endif
