#include "animation_input.h"

#include <stdlib.h>
#include <string.h>

#include "frame_timing.h"

namespace {

const char* decoder_text(const AnimationInput* input, unsigned code) {
  return input->kind == ANIMATION_GIF ? gif_error_text(code) : apng_error_text(code);
}

FrameDelay frame_delay(const AnimationInput* input, uint32_t frame) {
  return input->kind == ANIMATION_GIF ? gif_frame_delay(&input->gif, frame)
                                      : apng_frame_delay(&input->apng, frame);
}

// Starts decoding from the first picture again, on an empty canvas.
AnimationStatus restart(AnimationInput* input, unsigned max_side) {
  if (input->kind == ANIMATION_GIF) {
    gif_close(&input->gif);
  } else {
    apng_close(&input->apng);
  }
  unsigned code = input->kind == ANIMATION_GIF
                      ? gif_open(&input->gif, input->data, input->size, max_side)
                      : apng_open(&input->apng, input->data, input->size, max_side);
  if (code != 0) {
    input->reason = decoder_text(input, code);
    return ANIMATION_UNDECODABLE;
  }
  memset(input->canvas, 0, size_t(input->width) * input->height * 4);
  input->decoded = -1;
  return ANIMATION_OK;
}

// The canvas side from the file's own header, read before any decoder
// takes memory: a GIF's logical screen, an animated PNG's IHDR.
void header_size(AnimationKind kind, const unsigned char* data, size_t size, uint32_t* width,
                 uint32_t* height) {
  *width = *height = 0;
  if (kind == ANIMATION_GIF && size >= 10) {
    *width = data[6] | uint32_t(data[7]) << 8;
    *height = data[8] | uint32_t(data[9]) << 8;
  } else if (kind == ANIMATION_APNG && size >= 24) {
    *width = uint32_t(data[16]) << 24 | uint32_t(data[17]) << 16 | uint32_t(data[18]) << 8 | data[19];
    *height = uint32_t(data[20]) << 24 | uint32_t(data[21]) << 16 | uint32_t(data[22]) << 8 | data[23];
  }
}

}  // namespace

AnimationKind animation_kind(const unsigned char* data, size_t size) {
  if (gif_signature(data, size)) return ANIMATION_GIF;
  if (apng_signature(data, size)) return ANIMATION_APNG;
  return ANIMATION_NONE;
}

AnimationStatus animation_open(AnimationInput* input, AnimationKind kind, unsigned char* data,
                               size_t size, int32_t fps, unsigned max_side) {
  memset(input, 0, sizeof *input);
  input->kind = kind;
  input->data = data;
  input->size = size;
  input->decoded = -1;
  input->reason = "";
  input->max_side = max_side;

  header_size(kind, data, size, &input->width, &input->height);
  if (input->width > max_side || input->height > max_side) return ANIMATION_TOO_LARGE;
  unsigned code = kind == ANIMATION_GIF ? gif_open(&input->gif, data, size, max_side)
                                        : apng_open(&input->apng, data, size, max_side);
  if (code != 0) {
    input->reason = decoder_text(input, code);
    return ANIMATION_UNDECODABLE;
  }
  if (kind == ANIMATION_GIF) {
    input->width = input->gif.width;
    input->height = input->gif.height;
    input->source_frames = input->gif.frame_count;
  } else {
    input->width = apng_width(&input->apng);
    input->height = apng_height(&input->apng);
    input->source_frames = apng_frame_count(&input->apng);
  }
  if (input->source_frames == 0) {
    input->reason = "it has no frames";
    return ANIMATION_UNDECODABLE;
  }

  // the rate, then each picture's place among the held frames
  FrameDelay* delays =
      static_cast<FrameDelay*>(malloc(sizeof(FrameDelay) * input->source_frames));
  input->starts = static_cast<uint32_t*>(malloc(sizeof(uint32_t) * (input->source_frames + 1)));
  if (delays == nullptr || input->starts == nullptr) {
    free(delays);
    return ANIMATION_NO_MEMORY;
  }
  for (uint32_t i = 0; i < input->source_frames; i++) delays[i] = frame_delay(input, i);
  input->rate = fps > 0 ? fps : choose_frame_rate(delays, input->source_frames);
  uint64_t held = 0;
  for (uint32_t i = 0; i < input->source_frames; i++) {
    input->starts[i] = held > UINT32_MAX ? UINT32_MAX : uint32_t(held);
    held += held_periods(delays[i], input->rate);
    uint32_t error = timing_error_microseconds(delays[i], input->rate);
    if (error > input->timing_error_us) input->timing_error_us = error;
  }
  free(delays);
  // the header counts frames in 16 bits
  if (held > ANIMATION_MAX_FRAMES) {
    input->frames = held > UINT32_MAX ? UINT32_MAX : uint32_t(held);
    return ANIMATION_TOO_LONG;
  }
  input->frames = uint32_t(held);
  input->starts[input->source_frames] = input->frames;

  input->canvas = static_cast<unsigned char*>(calloc(size_t(input->width) * input->height, 4));
  if (input->canvas == nullptr) return ANIMATION_NO_MEMORY;
  return ANIMATION_OK;
}

namespace {

// The picture showing at held frame `number`: the last one starting at or
// before it.
uint32_t picture_at(const AnimationInput* input, uint32_t number) {
  uint32_t low = 0, high = input->source_frames;  // starts[low] <= number < starts[high]
  while (high - low > 1) {
    uint32_t middle = low + (high - low) / 2;
    if (input->starts[middle] <= number) {
      low = middle;
    } else {
      high = middle;
    }
  }
  return low;
}

}  // namespace

uint32_t animation_next_picture(const AnimationInput* input, uint32_t number) {
  return input->starts[picture_at(input, number) + 1];
}

AnimationStatus animation_show(AnimationInput* input, uint32_t number) {
  int32_t wanted = int32_t(picture_at(input, number));
  if (wanted < input->decoded) {
    AnimationStatus status = restart(input, input->max_side);
    if (status != ANIMATION_OK) return status;
  }
  while (input->decoded < wanted) {
    unsigned code = input->kind == ANIMATION_GIF ? gif_next_frame(&input->gif, input->canvas)
                                                 : apng_next_frame(&input->apng, input->canvas);
    if (code != 0) {
      input->reason = decoder_text(input, code);
      return ANIMATION_UNDECODABLE;
    }
    input->decoded++;
  }
  return ANIMATION_OK;
}

void animation_close(AnimationInput* input) {
  if (input->kind == ANIMATION_GIF) gif_close(&input->gif);
  if (input->kind == ANIMATION_APNG) apng_close(&input->apng);
  free(input->data);
  free(input->starts);
  free(input->canvas);
  memset(input, 0, sizeof *input);
}
