// Loading one frame: its file read whole into memory, then decoded to 8-bit
// RGBA. A missing file is told apart from one that exists but cannot be read,
// since only a missing frame ends a sequence.
#ifndef VELT_FRAME_FILE_H
#define VELT_FRAME_FILE_H

#include <stddef.h>

enum FrameFileStatus {
  FRAME_LOADED = 0,
  FRAME_MISSING,     // no such file: the sequence ends before it
  FRAME_UNREADABLE,  // it exists but cannot be opened or read; see `error_number`
  FRAME_UNDECODABLE, // it was read but is not a PNG the decoder accepts; see `decoder_error`
  FRAME_TOO_LARGE,   // its header gives a side above the limit: not decoded; see the size
  FRAME_WRONG_SIZE,  // a raw frame whose file is not width * height * 4 bytes
};

struct FrameFile {
  unsigned char* pixels;  // width * height RGBA pixels, or null
  unsigned width;
  unsigned height;
  int error_number;        // errno of a FRAME_UNREADABLE file
  unsigned decoder_error;  // the decoder's code of a FRAME_UNDECODABLE file
  unsigned long file_size;  // the size of a FRAME_WRONG_SIZE file
};

// What a frame file holds and how large a picture may be.
struct FrameFormat {
  unsigned raw_width;   // raw RGBA frames of this size, or 0 for PNG files
  unsigned raw_height;
  unsigned max_side;    // a PNG with a longer side (after `pad`) is not decoded
  bool pad;             // sides are to be padded to a multiple of 4
};

// Reads and decodes the file at `path` into `frame`, which must hold no
// pixels. On any status but FRAME_LOADED, `frame` holds no pixels and a 0 x 0
// size, except FRAME_TOO_LARGE, which gives the size its header says, and
// FRAME_WRONG_SIZE, which gives the raw size expected. A PNG
// whose sides are not multiples of 4 without `pad` is decoded whatever its
// size: its sides are the first thing wrong with it.
FrameFileStatus load_frame_file(const char* path, const FrameFormat& format, FrameFile* frame);

// Reads the whole file at `path` into a new buffer (*data, taken with
// malloc). Returns FRAME_LOADED, FRAME_MISSING or FRAME_UNREADABLE (with
// *error_number set).
FrameFileStatus read_frame_bytes(const char* path, unsigned char** data, size_t* size,
                                 int* error_number);

// The side of `side` pixels padded to a multiple of 4.
static inline unsigned padded_side(unsigned side) { return (side + 3) / 4 * 4; }

// True when a file is at `path`, readable or not.
bool frame_file_exists(const char* path);

// The reason of a failed load, for a message: the system's text of the error
// number, the decoder's text of its code, or what is wrong with a raw file's
// size (in a buffer that the next call reuses).
const char* frame_file_reason(FrameFileStatus status, const FrameFile* frame);

#endif
