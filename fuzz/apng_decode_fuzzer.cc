// libFuzzer target for the animated PNG decoder: any bytes, opened with the
// sandboxed program's side limit, and every frame composited onto one canvas.
// An opened file must be an animated PNG within the limits, and its frames
// must end exactly at the frame count. Mutations keep the checksums right in
// seven of eight inputs (png_checksums.h).
#include <stdlib.h>

#include "apng_decode.h"
#include "png_checksums.h"

namespace {

const unsigned kMaxSide = 1020;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ApngDecoder decoder;
  unsigned error = apng_open(&decoder, data, size, kMaxSide);
  if (error == 0) {
    if (!apng_signature(data, size) || decoder.width == 0 || decoder.width > kMaxSide ||
        decoder.height == 0 || decoder.height > kMaxSide || decoder.frame_count == 0 ||
        decoder.frame_count > ANIMATION_MAX_FRAMES)
      abort();
    unsigned char* canvas =
        static_cast<unsigned char*>(calloc(size_t{decoder.width} * decoder.height, 4));
    if (canvas == nullptr) abort();
    for (uint32_t i = 0; i < decoder.frame_count && error == 0; ++i) {
      if (apng_frame_delay(&decoder, i).denominator == 0) abort();
      error = apng_next_frame(&decoder, canvas);
    }
    if (error == 0 && apng_next_frame(&decoder, canvas) != APNG_NO_MORE_FRAMES) abort();
    // a failure stays
    if (error != 0 && apng_next_frame(&decoder, canvas) != error) abort();
    free(canvas);
  }
  if (error != 0 && apng_error_text(error) == nullptr) abort();
  apng_close(&decoder);
  return 0;
}

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t max_size,
                                          unsigned int seed) {
  return mutate_keeping_checksums(data, size, max_size, seed, 0);
}
