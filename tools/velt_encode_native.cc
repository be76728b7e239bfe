// velt-encode-native: the encoder built natively, outside the sandbox, for
// comparisons and measurements only. It runs the same encoder sources on the
// host's C library; velt-encode is the program for untrusted input.
#include <cstdio>
#include <cstdlib>

#include "velt_encoder.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::printf("Usage: %s <input_pattern> <output.velt> <fps> <flags>\n", argv[0]);
    return 1;
  }
  int32_t fps = static_cast<int32_t>(std::strtol(argv[3], nullptr, 10));
  int32_t flags = static_cast<int32_t>(std::strtol(argv[4], nullptr, 10));
  return compress_video_wasm(argv[1], argv[2], flags, fps);
}
