// The decode-only module: the module library and the PNG decoder behind one
// entry that reads a frame sequence the way an encoding run does and keeps
// nothing, the floor under the encoder's own run time.
#include <stdint.h>
#include <stdlib.h>

#include "png_decoder.h"

enum { FRAME_PATH_SIZE = 256 };

// Writes `pattern` with every 'X' replaced by `number` into `path`; false when
// it does not fit.
static bool expand_pattern(const char* pattern, int32_t number, char path[FRAME_PATH_SIZE]) {
  char digits[12];
  int count = 0;
  do {
    digits[count++] = (char)('0' + number % 10);
    number /= 10;
  } while (number != 0);
  int length = 0;
  for (const char* p = pattern; *p != '\0'; p++) {
    int piece = *p == 'X' ? count : 1;
    if (length + piece >= FRAME_PATH_SIZE) return false;
    if (*p == 'X') {
      for (int d = count - 1; d >= 0; d--) path[length++] = digits[d];
    } else {
      path[length++] = *p;
    }
  }
  path[length] = '\0';
  return true;
}

// Decodes one frame to RGBA and frees it; the decoder's error code.
static unsigned decode_frame(const char* pattern, int32_t number) {
  char path[FRAME_PATH_SIZE];
  if (!expand_pattern(pattern, number, path)) return LODEPNG_CANNOT_OPEN;
  unsigned char* pixels = nullptr;
  unsigned width = 0, height = 0;
  unsigned error = lodepng_decode32_file(&pixels, &width, &height, path);
  free(pixels);
  return error;
}

// Decodes frames 0, 1, ... of `pattern` (numbers above 0 only when it has an
// 'X') up to the first one that cannot be opened, then frame 0 again as the
// run's closing frame. Returns the number of decodes, or -1 when a frame does
// not decode or frame 0 is missing.
extern "C" __attribute__((export_name("d"))) int32_t decode_sequence(const char* pattern) {
  bool numbered = false;
  for (const char* p = pattern; *p != '\0'; p++) numbered = numbered || *p == 'X';
  int32_t decoded = 0;
  for (int32_t number = 0; number == 0 || numbered; number++) {
    unsigned error = decode_frame(pattern, number);
    if (error == LODEPNG_CANNOT_OPEN && number > 0) break;
    if (error != 0) return -1;
    decoded++;
  }
  if (decode_frame(pattern, 0) != 0) return -1;
  return decoded + 1;
}
