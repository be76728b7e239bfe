// What the animation decoders (GIF, and PNG with an animation control chunk)
// have in common: frames composited one after the other onto a canvas of the
// file's size, each shown for its own delay.
//
// Each decoder has the same shape (gif_decode.h, apng_decode.h):
//   *_open   checks the header and walks the file's structure, without
//            decoding any image data: canvas size, frame count and every
//            frame's delay. Limits are checked here, before anything large is
//            taken: a canvas side above `max_side`, more than
//            ANIMATION_MAX_FRAMES frames.
//   *_next_frame  decodes the next frame onto the caller's canvas (width x
//            height RGBA, all zero before the first frame, and afterwards
//            holding the previous call's picture) as a browser shows it:
//            the previous frame's disposal first, then this frame.
//   *_close  frees what the decoder took.
// Every call returns 0 or the decoder's own error code, whose text
// *_error_text gives.
#ifndef VELT_ANIMATION_FRAMES_H
#define VELT_ANIMATION_FRAMES_H

#include <stdint.h>

// No animation has more frames than a VELT file can hold, even at one period
// each.
enum { ANIMATION_MAX_FRAMES = 65535 };

// How long a frame is shown: numerator / denominator seconds. The denominator
// is never 0 (a GIF's delay is in hundredths; an APNG's denominator 0 means
// hundredths too).
struct FrameDelay {
  uint16_t numerator;
  uint16_t denominator;
};

#endif
