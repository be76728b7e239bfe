// How the encoder fuzzer reads its input: one control byte, then the bytes of
// a frame file. The control byte chooses the run:
//
//   bits 0-1  flags, the block mode
//   bit 2     clear: the bytes are frame 0, the only frame;
//             set: they are frame 1, after a valid 8x8 frame 0
//   bits 3-7  fps - 1 (1 to 32)
//
// An empty input is control byte 0 and an empty frame file. Shared by the
// fuzzer, its seed generator and the test that runs its regression files.
#ifndef VELT_FUZZ_ENCODER_INPUT_H
#define VELT_FUZZ_ENCODER_INPUT_H

#include <cstddef>
#include <cstdint>

struct EncoderFuzzInput {
  int32_t flags = 0;
  int32_t fps = 1;
  bool after_valid_frame = false;
  const uint8_t* frame = nullptr;
  size_t frame_size = 0;
};

inline EncoderFuzzInput split_encoder_input(const uint8_t* data, size_t size) {
  EncoderFuzzInput input;
  const uint8_t control = size > 0 ? data[0] : 0;
  input.flags = control & 3;
  input.after_valid_frame = (control & 4) != 0;
  input.fps = (control >> 3) + 1;
  input.frame = size > 0 ? data + 1 : data;
  input.frame_size = size > 0 ? size - 1 : 0;
  return input;
}

// The control byte of a run; `fps` from 1 to 32.
inline uint8_t encoder_control_byte(int32_t flags, bool after_valid_frame, int32_t fps) {
  return uint8_t((flags & 3) | (after_valid_frame ? 4 : 0) | ((fps - 1) & 31) << 3);
}

#endif
