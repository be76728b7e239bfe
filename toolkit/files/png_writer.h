// Writes pictures as 8-bit RGBA PNG files.
#ifndef VELT_TOOLKIT_PNG_WRITER_H
#define VELT_TOOLKIT_PNG_WRITER_H

#include <cstdint>
#include <string>

#include "atomic_file.h"

// Writes `rgba` (width x height pixels, rows from the top) to `path` as an
// RGBA PNG of 8 bits a channel, whatever colours it holds. Returns false
// with `error` set ("PATH: reason") on failure. The file is written under a
// temporary name and renamed into place whole: a failure leaves what the path
// held before and no temporary file (a device or FIFO is written in place).
bool write_rgba_png(const std::string& path, const uint8_t* rgba, unsigned width, unsigned height,
                    std::string* error);

// The same into `file`, opened for `path` beforehand (by a process that
// confines itself before it writes).
bool write_rgba_png(AtomicFile& file, const std::string& path, const uint8_t* rgba,
                    unsigned width, unsigned height, std::string* error);

#endif
