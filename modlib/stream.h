// The module's buffered streams: the FILE record behind stdio.h and the
// write path that formatted output shares.
#ifndef VELT_MODLIB_STREAM_H
#define VELT_MODLIB_STREAM_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

enum { STREAM_BUFFER_SIZE = 1024 };

enum StreamBuffering {
  BUFFER_NONE,  // every write goes to the host at once
  BUFFER_LINE,  // written out at a line end, when full, or on flush
  BUFFER_FULL,  // written out when full or on flush
};

// Stream flag bits.
enum {
  STREAM_OPEN = 1,
  STREAM_READABLE = 2,
  STREAM_WRITABLE = 4,
  STREAM_OWNS_BUFFER = 8,  // the buffer came from malloc
  STREAM_ERROR = 16,
  STREAM_EOF = 32,
};

// A stream over one host descriptor. Output waits in buffer[0..write_count);
// read-ahead is buffer[read_pos..read_end). At most one of the two is
// non-empty at a time.
struct FILE {
  int32_t fd;
  uint32_t flags;
  StreamBuffering buffering;
  unsigned char* buffer;
  uint32_t capacity;
  uint32_t write_count;
  uint32_t read_pos;
  uint32_t read_end;
};

// Writes n bytes through the stream's buffer; returns how many of them are
// written or buffered (fewer than n only after a failed write).
size_t stream_write(FILE* stream, const unsigned char* data, size_t n);

#endif
