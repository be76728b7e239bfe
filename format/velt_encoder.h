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
//   t  set_input (kind, pad, raw width, raw height), for the calls that follow
//   u  probe_input (pattern, flags, fps): an InputReport of what frame 0 and
//      an animation's timing would give
//   v  source_frame (pattern, flags, fps, number): the picture a run encodes
//      as that frame, for a host that compares a file with its source
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
  VELT_ERR_TOO_LONG = 11,       // an animation held at its rate needs more than 65535
                                // frames; nothing is encoded
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

// Where the frames come from (set_input).
enum {
  VELT_INPUT_FRAMES = 0,     // one PNG file per frame (the default)
  VELT_INPUT_ANIMATION = 1,  // the pattern names one file: a GIF or an animated PNG
                             // gives every frame, held at the run's rate; any other
                             // PNG is the one frame
  VELT_INPUT_RAW = 2,        // one file per frame of raw RGBA, width * height * 4 bytes
};

// What probe_input found in frame 0's file.
enum { VELT_SOURCE_PNG = 0, VELT_SOURCE_GIF = 1, VELT_SOURCE_APNG = 2, VELT_SOURCE_RAW = 3 };

struct InputReport {
  int32_t result;          // VELT_OK, or the code a run would fail with at frame 0
  int32_t source_kind;     // VELT_SOURCE_*
  uint32_t source_width;   // the picture as its file gives it
  uint32_t source_height;
  uint32_t width;          // as it is encoded, after any padding
  uint32_t height;
  int32_t source_frames;   // an animation's frames, else 1
  int32_t rate;            // the rate an animation is held at: the one asked for, or chosen
  int32_t frames;          // an animation's frames once held, else 1
  int32_t timing_error_us; // the largest difference between a frame's delay and its hold
  char reason[RUN_REASON_SIZE];  // as a RunReport's, for a failure
};

// A picture as a run encodes it, in module memory until the next call.
struct SourceFrame {
  int32_t result;    // VELT_OK; 1 for no such frame; else the code a run would fail with
  uint32_t width;
  uint32_t height;
  uint32_t pixels;   // offset of width * height RGBA pixels
  int32_t next;      // the first later frame that may show another picture: an
                     // animation holds one picture for several frames
  char reason[RUN_REASON_SIZE];
};

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

// Sets where the frames of the calls that follow come from (VELT_INPUT_*),
// whether their right and bottom edges are padded to a multiple of 4
// (transparent pixels in the alpha modes, copies of the last column and row
// in the opaque ones; an animation is always padded), and the size of raw
// frames. Returns 0, or -1 for settings out of range, which leaves them.
int32_t set_input(int32_t kind, int32_t pad, int32_t raw_width, int32_t raw_height);

// Reads frame 0 of `pattern` as a run with `flags` and `fps` would (an
// animation's rate is chosen when `fps` is 0) and reports what it found.
const InputReport* probe_input(const char* pattern, int32_t flags, int32_t fps);

// Frame `number` of `pattern` as a run with `flags` and `fps` encodes it.
// Calls in increasing order of frames are cheapest.
const SourceFrame* source_frame(const char* pattern, int32_t flags, int32_t fps, int32_t number);

#ifdef __cplusplus
}
#endif

#endif
