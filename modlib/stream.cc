// Buffered streams over the host's descriptor services: stdout (line
// buffered), stderr (unbuffered) and up to eight open files (fully buffered,
// 1024-byte buffers from the heap).
#include "stream.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "host_services.h"

namespace {

const int FILE_POOL_SIZE = 8;

unsigned char stdout_buffer[STREAM_BUFFER_SIZE];
FILE standard_streams[2] = {
    {1, STREAM_OPEN | STREAM_WRITABLE, BUFFER_LINE, stdout_buffer, STREAM_BUFFER_SIZE, 0, 0, 0},
    {2, STREAM_OPEN | STREAM_WRITABLE, BUFFER_NONE, nullptr, 0, 0, 0, 0},
};
FILE file_pool[FILE_POOL_SIZE];  // flags 0 = slot free

// Hands the buffers to the host in one gathering write of `total` bytes.
// Returns the bytes written; a failed or short write sets the error flag.
uint32_t write_to_host(FILE* f, const HostIoVector* iovs, uint32_t count, uint32_t total) {
  uint32_t written = 0;
  int32_t result = host_write(f->fd, iovs, count, &written);
  if (result != 0) written = 0;
  if (written > total) written = total;  // a count the host cannot have written
  if (result != 0 || written < total) {
    f->flags |= STREAM_ERROR;
    errno = result != 0 ? result : EIO;
  }
  return written;
}

// Writes out the pending output. The buffer is emptied even when the write
// fails: the stream is in error then and the bytes cannot be placed again.
int flush_output(FILE* f) {
  uint32_t pending = f->write_count;
  if (pending == 0) return 0;
  f->write_count = 0;
  HostIoVector v = {f->buffer, pending};
  return write_to_host(f, &v, 1, pending) == pending ? 0 : EOF;
}

// Forgets the read-ahead and moves the host position back to the first byte
// the caller has not read.
int drop_read_ahead(FILE* f) {
  uint32_t unread = f->read_end - f->read_pos;
  f->read_pos = 0;
  f->read_end = 0;
  if (unread == 0) return 0;
  int64_t position = 0;
  int32_t result = host_seek(f->fd, -static_cast<int64_t>(unread), SEEK_CUR, &position);
  if (result != 0) {
    f->flags |= STREAM_ERROR;
    errno = result;
    return EOF;
  }
  return 0;
}

bool contains_line_end(const unsigned char* data, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (data[i] == '\n') return true;
  return false;
}

// Reads up to n bytes: first from the read-ahead, then straight from the
// host, with the buffer as a second vector entry to catch the read-ahead.
size_t stream_read(FILE* f, unsigned char* data, size_t n) {
  if (!(f->flags & STREAM_READABLE)) {
    f->flags |= STREAM_ERROR;
    errno = EBADF;
    return 0;
  }
  if (flush_output(f) != 0) return 0;
  size_t done = f->read_end - f->read_pos;
  if (done > n) done = n;
  memcpy(data, f->buffer + f->read_pos, done);
  f->read_pos += done;
  while (done < n) {
    size_t wanted = n - done;
    HostIoVector v[2] = {{data + done, static_cast<uint32_t>(wanted)}, {f->buffer, f->capacity}};
    uint32_t got = 0;
    int32_t result = host_read(f->fd, v, 2, &got);
    if (result != 0) {
      f->flags |= STREAM_ERROR;
      errno = result;
      break;
    }
    if (got == 0) {
      f->flags |= STREAM_EOF;
      break;
    }
    if (got <= wanted) {
      done += got;
    } else {
      f->read_pos = 0;
      f->read_end = got - wanted < f->capacity ? got - wanted : f->capacity;
      done = n;
    }
  }
  return done;
}

FILE* find_free_slot() {
  for (int i = 0; i < FILE_POOL_SIZE; i++)
    if (file_pool[i].flags == 0) return &file_pool[i];
  return nullptr;
}

bool mode_has(const char* mode, char c) {
  for (; *mode; mode++)
    if (*mode == c) return true;
  return false;
}

}  // namespace

size_t stream_write(FILE* f, const unsigned char* data, size_t n) {
  if (!(f->flags & STREAM_WRITABLE)) {
    f->flags |= STREAM_ERROR;
    errno = EBADF;
    return 0;
  }
  if (n == 0) return 0;
  if (drop_read_ahead(f) != 0) return 0;
  if (f->buffering == BUFFER_NONE) {
    HostIoVector v = {data, static_cast<uint32_t>(n)};
    return write_to_host(f, &v, 1, n);
  }
  size_t done = 0;
  size_t held = 0;  // bytes of this call still in the buffer
  while (done < n) {
    size_t left = n - done;
    if (f->write_count == 0 && left >= f->capacity) {
      // a whole buffer or more and nothing pending: no need to copy
      HostIoVector v = {data + done, static_cast<uint32_t>(left)};
      return done + write_to_host(f, &v, 1, left);
    }
    size_t room = f->capacity - f->write_count;
    size_t chunk = left < room ? left : room;
    memcpy(f->buffer + f->write_count, data + done, chunk);
    f->write_count += chunk;
    done += chunk;
    held += chunk;
    if (f->write_count == f->capacity) {
      if (flush_output(f) != 0) return done - held;
      held = 0;
    }
  }
  if (f->buffering == BUFFER_LINE && contains_line_end(data + n - held, held) &&
      flush_output(f) != 0)
    return n - held;
  return n;
}

extern "C" {

FILE* const stdout = &standard_streams[0];
FILE* const stderr = &standard_streams[1];

FILE* fopen(const char* path, const char* mode) {
  int32_t flags;
  switch (mode[0]) {
    case 'r': flags = HOST_O_RDONLY; break;
    case 'w': flags = HOST_O_WRONLY | HOST_O_CREAT | HOST_O_TRUNC; break;
    case 'a': flags = HOST_O_WRONLY | HOST_O_CREAT | HOST_O_APPEND; break;
    default: errno = EINVAL; return nullptr;
  }
  bool update = mode_has(mode, '+');
  if (update) flags = (flags & ~3) | HOST_O_RDWR;
  if (mode_has(mode, 'x')) flags |= HOST_O_EXCL;
  if (mode_has(mode, 'e')) flags |= HOST_O_CLOEXEC;

  FILE* f = find_free_slot();
  if (f == nullptr) {
    errno = EMFILE;
    return nullptr;
  }
  unsigned char* buffer = static_cast<unsigned char*>(malloc(STREAM_BUFFER_SIZE));
  if (buffer == nullptr) return nullptr;
  int32_t fd = host_open(HOST_AT_FDCWD, path, flags, 0666);
  if (fd < 0) {
    free(buffer);
    errno = -fd;
    return nullptr;
  }
  if (flags & HOST_O_CLOEXEC) host_fcntl(fd, HOST_F_SETFD, HOST_FD_CLOEXEC);

  uint32_t stream_flags = STREAM_OPEN | STREAM_OWNS_BUFFER;
  if (mode[0] == 'r' || update) stream_flags |= STREAM_READABLE;
  if (mode[0] != 'r' || update) stream_flags |= STREAM_WRITABLE;
  StreamBuffering buffering = BUFFER_FULL;
  if (stream_flags & STREAM_WRITABLE) {
    // output to a terminal is shown line by line
    uint16_t window_size[4];
    if (host_ioctl(fd, HOST_TIOCGWINSZ, window_size) == 0) buffering = BUFFER_LINE;
  }
  *f = FILE{fd, stream_flags, buffering, buffer, STREAM_BUFFER_SIZE, 0, 0, 0};
  return f;
}

int fclose(FILE* f) {
  if (!(f->flags & STREAM_OPEN)) {
    errno = EBADF;
    return EOF;
  }
  flush_output(f);
  // any write that failed during the stream's life fails the close too
  int result = (f->flags & STREAM_ERROR) ? EOF : 0;
  int32_t closed = host_close(f->fd);
  if (closed != 0) {
    errno = closed;
    result = EOF;
  }
  if (f->flags & STREAM_OWNS_BUFFER) free(f->buffer);
  *f = FILE{-1, 0, BUFFER_NONE, nullptr, 0, 0, 0, 0};
  return result;
}

size_t fread(void* data, size_t size, size_t nmemb, FILE* f) {
  if (size == 0 || nmemb == 0) return 0;
  if (nmemb > SIZE_MAX / size) {
    f->flags |= STREAM_ERROR;
    errno = EOVERFLOW;
    return 0;
  }
  return stream_read(f, static_cast<unsigned char*>(data), size * nmemb) / size;
}

size_t fwrite(const void* data, size_t size, size_t nmemb, FILE* f) {
  if (size == 0 || nmemb == 0) return 0;
  if (nmemb > SIZE_MAX / size) {
    f->flags |= STREAM_ERROR;
    errno = EOVERFLOW;
    return 0;
  }
  return stream_write(f, static_cast<const unsigned char*>(data), size * nmemb) / size;
}

int fputc(int c, FILE* f) {
  unsigned char byte = static_cast<unsigned char>(c);
  // common case: room in the buffer and no reason to write out
  if ((f->flags & STREAM_WRITABLE) && f->buffering != BUFFER_NONE && f->read_end == 0 &&
      f->write_count + 1 < f->capacity && !(byte == '\n' && f->buffering == BUFFER_LINE)) {
    f->buffer[f->write_count++] = byte;
    return byte;
  }
  return stream_write(f, &byte, 1) == 1 ? byte : EOF;
}

int fseek(FILE* f, long offset, int whence) {
  if (!(f->flags & STREAM_OPEN)) {
    errno = EBADF;
    return -1;
  }
  if (flush_output(f) != 0) return -1;
  int64_t target = offset;
  // the host stands past the read-ahead
  if (whence == SEEK_CUR) target -= f->read_end - f->read_pos;
  int64_t position = 0;
  int32_t result = host_seek(f->fd, target, whence, &position);
  if (result != 0) {
    errno = result;
    return -1;
  }
  f->read_pos = 0;
  f->read_end = 0;
  f->flags &= ~STREAM_EOF;
  return 0;
}

long ftell(FILE* f) {
  if (!(f->flags & STREAM_OPEN)) {
    errno = EBADF;
    return -1;
  }
  int64_t position = 0;
  int32_t result = host_seek(f->fd, 0, SEEK_CUR, &position);
  if (result != 0) {
    errno = result;
    return -1;
  }
  position += f->write_count;
  position -= f->read_end - f->read_pos;
  if (position < 0 || position > LONG_MAX) {
    errno = EOVERFLOW;
    return -1;
  }
  return static_cast<long>(position);
}

int fflush(FILE* f) {
  if (f == nullptr) {
    int result = fflush(stdout);
    for (int i = 0; i < FILE_POOL_SIZE; i++)
      if ((file_pool[i].flags & STREAM_OPEN) && fflush(&file_pool[i]) != 0) result = EOF;
    return result;
  }
  if (!(f->flags & STREAM_OPEN)) {
    errno = EBADF;
    return EOF;
  }
  if (flush_output(f) != 0 || drop_read_ahead(f) != 0) return EOF;
  return 0;
}

int ferror(FILE* f) { return (f->flags & STREAM_ERROR) != 0; }

int puts(const char* text) {
  size_t length = strlen(text);
  if (stream_write(stdout, reinterpret_cast<const unsigned char*>(text), length) < length) return EOF;
  return fputc('\n', stdout) == EOF ? EOF : 0;
}

}  // extern "C"
