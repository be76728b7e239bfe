// The encoder's entry: numbered PNG frames in, one VELT animation file out.
#ifndef VELT_ENCODER_H
#define VELT_ENCODER_H

#include <stdint.h>

// Result codes of compress_video_wasm.
enum {
  VELT_OK = 0,
  VELT_ERR_OPEN_OUTPUT = 1,     // the output file cannot be opened
  VELT_ERR_READ_FRAME = 2,      // frame 0 unreadable, or a frame path too long
  VELT_ERR_NOT_MULTIPLE_OF_4 = 3,
  VELT_ERR_TOO_LARGE = 4,       // first frame 1024 pixels or more wide or high
  VELT_ERR_SIZE_CHANGED = 5,    // a later frame differs in size from frame 0
  VELT_ERR_WRITE = 6,           // a seek, write or close of the output failed
  VELT_ERR_DECODE_FRAME = 7,    // a later frame exists but does not decode
};

#ifdef __cplusplus
extern "C" {
#endif

// Encodes the frames named by `pattern` (every 'X' stands for the frame
// number) into the VELT file at `output`. `flags` & 3 selects the block mode;
// `fps` only sets the header's rate code. Returns VELT_OK or an error code,
// after printing a message on standard output.
int32_t compress_video_wasm(const char* pattern, const char* output, int32_t flags, int32_t fps);

#ifdef __cplusplus
}
#endif

#endif
