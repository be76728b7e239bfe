#include "frame_file.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "png_bounded_decode.h"
#include "png_decoder.h"

namespace {

// The open failed because nothing is there: the file, or a directory on its way.
bool missing_error(int error_number) { return error_number == ENOENT || error_number == ENOTDIR; }

// Reads the whole of `file` into a new buffer; false with errno set.
bool read_whole(FILE* file, unsigned char** data, size_t* size) {
  if (fseek(file, 0, SEEK_END) != 0) return false;
  long end = ftell(file);
  if (end < 0) {
    // the position does not fit a long: a file of 2 GiB or more
    if (errno == EOVERFLOW) errno = EFBIG;
    return false;
  }
  if (fseek(file, 0, SEEK_SET) != 0) return false;
  size_t length = static_cast<size_t>(end);
  // one byte more than the file: a file that grew is noticed, not cut short
  unsigned char* buffer = static_cast<unsigned char*>(malloc(length + 1));
  if (buffer == nullptr) {
    errno = EFBIG;
    return false;
  }
  size_t got = fread(buffer, 1, length + 1, file);
  if (got != length) {
    if (!ferror(file)) errno = EIO;  // it changed size while being read
    free(buffer);
    return false;
  }
  *data = buffer;
  *size = length;
  return true;
}

}  // namespace

FrameFileStatus read_frame_bytes(const char* path, unsigned char** data, size_t* size,
                                 int* error_number) {
  *data = nullptr;
  *size = 0;
  errno = 0;
  FILE* file = fopen(path, "rb");
  if (file == nullptr) {
    *error_number = errno;
    return missing_error(errno) ? FRAME_MISSING : FRAME_UNREADABLE;
  }
  bool read = read_whole(file, data, size);
  *error_number = read ? 0 : errno;
  // the bytes are all in memory: a failed close of a file only read loses nothing
  fclose(file);
  return read ? FRAME_LOADED : FRAME_UNREADABLE;
}

FrameFileStatus load_frame_file(const char* path, const FrameFormat& format, FrameFile* frame) {
  frame->pixels = nullptr;
  frame->width = 0;
  frame->height = 0;
  frame->error_number = 0;
  frame->decoder_error = 0;
  frame->file_size = 0;

  unsigned char* png = nullptr;
  size_t png_size = 0;
  FrameFileStatus status = read_frame_bytes(path, &png, &png_size, &frame->error_number);
  if (status != FRAME_LOADED) return status;

  if (format.raw_width != 0) {
    // raw RGBA: the file is the picture
    if (png_size != size_t(format.raw_width) * format.raw_height * 4) {
      frame->file_size = png_size;
      frame->width = format.raw_width;
      frame->height = format.raw_height;
      free(png);
      return FRAME_WRONG_SIZE;
    }
    frame->pixels = png;
    frame->width = format.raw_width;
    frame->height = format.raw_height;
    return FRAME_LOADED;
  }

  // a picture too large is refused from its header, before it is inflated
  unsigned header_width = 0, header_height = 0;
  if (png_header_size(png, png_size, &header_width, &header_height) &&
      (format.pad || (header_width % 4 == 0 && header_height % 4 == 0)) &&
      (padded_side(header_width) > format.max_side || padded_side(header_height) > format.max_side)) {
    free(png);
    frame->width = header_width;
    frame->height = header_height;
    return FRAME_TOO_LARGE;
  }

  unsigned error = decode_png_rgba(&frame->pixels, &frame->width, &frame->height, png, png_size);
  free(png);
  if (error != 0) {
    frame->decoder_error = error;
    return FRAME_UNDECODABLE;
  }
  return FRAME_LOADED;
}

bool frame_file_exists(const char* path) {
  errno = 0;
  FILE* file = fopen(path, "rb");
  if (file != nullptr) {
    fclose(file);
    return true;
  }
  return !missing_error(errno);
}

const char* frame_file_reason(FrameFileStatus status, const FrameFile* frame) {
  if (status == FRAME_UNDECODABLE) return lodepng_error_text(frame->decoder_error);
  if (status == FRAME_WRONG_SIZE) {
    static char text[96];
    snprintf(text, sizeof text, "%lu bytes, not the %lu of a raw %ux%u RGBA frame",
             frame->file_size, (unsigned long)frame->width * frame->height * 4, frame->width,
             frame->height);
    return text;
  }
  return strerror(frame->error_number);
}
