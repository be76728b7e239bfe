// The encoder module's contract with its hosts: numbered PNG frames in, one
// VELT animation file (or one part of it, velt_part_format.h) out.
//
// The module exports, by the names a host calls them (the wasm2c functions
// Z_veltZ_<name>; paths and the report are offsets into its memory):
//   j  start-up, run once per instance before any other call
//   k  free, l allocate (size): memory for the strings a host copies in
//   m  compress_video_wasm (pattern, output, flags, fps)
//   r  encode_part (pattern, output, flags, fps, first, end, closing)
//   q  last_run_report (): the RunReport of the last m or r
//   s  set_tolerance (levels), for the runs that follow
// Everything it returns is untrusted to a host: offsets, counts and text are
// checked before use.
#ifndef VELT_ENCODER_H
#define VELT_ENCODER_H

#include <stdint.h>

// Result codes of compress_video_wasm.
enum {
  VELT_OK = 0,
  VELT_ERR_OPEN_OUTPUT = 1,     // the output file cannot be opened
  VELT_ERR_READ_FRAME = 2,      // a frame exists but cannot be read, or its path is too long
  VELT_ERR_NOT_MULTIPLE_OF_4 = 3,
  VELT_ERR_TOO_LARGE = 4,       // first frame 1024 pixels or more wide or high
  VELT_ERR_SIZE_CHANGED = 5,    // a later frame differs in size from frame 0
  VELT_ERR_WRITE = 6,           // a seek, write or close of the output failed
  VELT_ERR_DECODE_FRAME = 7,    // a later frame exists but does not decode
  VELT_ERR_TOO_MANY_FRAMES = 8, // frame 65535 exists: the header counts no more
  VELT_ERR_PART_RANGE = 9,      // encode_part was given no range of frames
  VELT_ERR_FRAME_CHANGED = 10,  // frame 0 read again for the closing record is another
                                // picture (and, in the host, a frame two workers read apart)
};

// What the last run did, for the host. A failure at a later frame (codes 2,
// 3, 5, 7) or too many frames (code 8) still ends the file properly: the
// frames before it, then the closing record back to frame 0. Every other
// failure leaves an unfinished file, which the host does not keep.
enum { RUN_REASON_SIZE = 160 };
struct RunReport {
  int32_t result;          // what compress_video_wasm returned
  int32_t frames_encoded;  // source frames whose records are in the file
  int32_t failing_frame;   // the frame the run failed at, or -1
  int32_t file_complete;   // 1 when the file holds its closing record and final header
  // What went wrong, NUL-terminated, without the frame's path: the system's
  // or the decoder's text for codes 2 and 7 ("its path is too long" for a
  // path that does not fit), the frame's size "WxH" for codes 3 and 4,
  // "WxH, but frame 0 is WxH" for code 5, what differs for code 10; empty
  // otherwise.
  char reason[RUN_REASON_SIZE];
};

// With a tolerance, every frame whose number is a multiple of this interval
// is a refresh frame: its blocks are stored at any visible difference from
// their references, and its source then becomes every block's reference. The
// closing record is stored the same way. A part of a run that starts after
// frame F needs only the frames from the last refresh frame up to F to know
// every reference, whatever the earlier parts stored.
enum { VELT_MAX_TOLERANCE = 64, VELT_REFRESH_INTERVAL = 64 };

// Whether frame `number` is a refresh frame (frame 0 is one too).
static inline bool velt_is_refresh_frame(int32_t number) {
  return number % VELT_REFRESH_INTERVAL == 0;
}

// The first frame that a part whose records start at frame `first` reads
// before its range: the frame before it, or with a tolerance, the last
// refresh frame up to that one.
static inline int32_t velt_part_first_read(int32_t first, int32_t tolerance) {
  if (first <= 0) return 0;
  if (tolerance == 0) return first - 1;
  return (first - 1) - (first - 1) % VELT_REFRESH_INTERVAL;
}

#ifdef __cplusplus
extern "C" {
#endif

// Encodes the frames named by `pattern` (every 'X' stands for the frame
// number) into the VELT file at `output`. `flags` & 3 selects the block mode;
// `fps` only sets the header's rate code. Returns VELT_OK or an error code,
// after printing a message on standard output.
int32_t compress_video_wasm(const char* pattern, const char* output, int32_t flags, int32_t fps);

// Encodes the records of frames `first` .. `end` - 1 into a part file at
// `output` (the layout of velt_part_format.h): frame 0 is read for the size
// every frame must have, frame `first` - 1 only as what the first record is
// measured against. A missing or failing frame inside the range ends the
// sequence there, as it does a single run; the part then ends with the
// closing record, as it does when `closing` is non-zero. Joined in order,
// the parts of a sequence make the file compress_video_wasm writes. Returns
// VELT_OK or an error code, like compress_video_wasm; the report's
// frames_encoded counts the part's frame records.
int32_t encode_part(const char* pattern, const char* output, int32_t flags, int32_t fps,
                    int32_t first, int32_t end, int32_t closing);

// The report of the last call of compress_video_wasm or encode_part.
const RunReport* last_run_report(void);

// Sets the tolerance, in levels, of the runs that follow: 0 (the default)
// stores every block that differs by a single byte from the previous frame;
// N > 0 stores a block only when its visible picture differs by more than N
// levels from the source its displayed record was made from (see
// visible_change.h). Returns 0, or -1 for a tolerance outside 0 to
// VELT_MAX_TOLERANCE, which leaves it as it was.
int32_t set_tolerance(int32_t levels);

#ifdef __cplusplus
}
#endif

#endif
