// libFuzzer target for the GIF decoder: any bytes, opened with canvas sides
// up to 1020 and decoded frame by frame onto one canvas. Besides what the
// sanitizers see, a finding is a failed open that leaves something behind, an
// open whose numbers break its own limits, or a frame that fails for any
// reason but a bad LZW code (everything else was checked by the open) or that
// does not keep failing.
#include <stdlib.h>

#include <vector>

#include "gif_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const unsigned kMaxSide = 1020;
  GifDecoder decoder;
  if (gif_open(&decoder, data, size, kMaxSide) != GIF_OK) {
    if (decoder.work != nullptr || decoder.delays != nullptr || decoder.frame_count != 0) abort();
    gif_close(&decoder);
    return 0;
  }
  if (decoder.width == 0 || decoder.width > kMaxSide || decoder.height == 0 ||
      decoder.height > kMaxSide || decoder.frame_count == 0 ||
      decoder.frame_count > ANIMATION_MAX_FRAMES) {
    abort();
  }
  std::vector<uint8_t> canvas(size_t{decoder.width} * decoder.height * 4);
  for (uint32_t k = 0; k < decoder.frame_count; ++k) {
    if (gif_frame_delay(&decoder, k).denominator != 100) abort();
    unsigned error = gif_next_frame(&decoder, canvas.data());
    if (error == GIF_OK) continue;
    if (error != GIF_CODE_PAST_TABLE || gif_next_frame(&decoder, canvas.data()) != error) abort();
    break;
  }
  gif_close(&decoder);
  return 0;
}
