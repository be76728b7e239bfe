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
  FRAME_UNDECODABLE  // it was read but is not a PNG the decoder accepts; see `decoder_error`
};

struct FrameFile {
  unsigned char* pixels;  // width * height RGBA pixels, or null
  unsigned width;
  unsigned height;
  int error_number;        // errno of a FRAME_UNREADABLE file
  unsigned decoder_error;  // the decoder's code of a FRAME_UNDECODABLE file
};

// Reads and decodes the file at `path` into `frame`, which must hold no
// pixels. On any status but FRAME_LOADED, `frame` holds no pixels and a 0 x 0
// size.
FrameFileStatus load_frame_file(const char* path, FrameFile* frame);

// True when a file is at `path`, readable or not.
bool frame_file_exists(const char* path);

// The reason of a failed load, for a message: the system's text of the error
// number, or the decoder's text of its code.
const char* frame_file_reason(FrameFileStatus status, const FrameFile* frame);

#endif
