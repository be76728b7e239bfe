// velt-encode: numbered PNG frames in, one VELT animation out.
#include <cstdio>

#include "driver.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::printf("Usage: %s <input_pattern> <output.velt> <fps>\n", argv[0]);
    std::printf("Example: %s /tmp/input_X.png /tmp/output.velt 20\n", argv[0]);
    std::puts("\nThe encoder auto-discovers frames from the input pattern.");
    std::puts("fps = frames per second (2-120, matches GIF frame rate).");
    return 1;
  }
  return run_encoder("velt-encode", argv[1], argv[2], parse_int_argument(argv[3]), 0);
}
