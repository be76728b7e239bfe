// A file's size on the wire: the streams a web server sends when it serves
// the file compressed, gzip or brotli, at the strongest settings of the usual
// static precompression.
#ifndef VELT_TOOLKIT_WIRE_SIZE_H
#define VELT_TOOLKIT_WIRE_SIZE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Takes the compressed stream piece by piece, in order.
using ByteSink = std::function<void(const uint8_t* bytes, size_t size)>;

// Writes the gzip stream of `size` bytes at `data` to `sink`: zlib's deflate
// at level 9 (32 KiB window, its default memory level) in a gzip wrapper
// with no file name and a zero time stamp, as `gzip -n` writes its header.
// GNU gzip's own deflate ends its blocks elsewhere, so `gzip -9 -n` may come
// out some bytes apart. Returns false with `error` when zlib fails (out of
// memory); the sink then holds part of a stream.
bool gzip_stream(const uint8_t* data, size_t size, const ByteSink& sink, std::string* error);

// Writes the brotli stream of the same bytes to `sink`, byte for byte what
// `brotli -q 11 -c FILE` writes for a file of them: quality 11, the smallest
// window that holds the whole file (up to the format's 16 MiB). Returns
// false with `error` when the encoder fails (out of memory).
bool brotli_stream(const uint8_t* data, size_t size, const ByteSink& sink, std::string* error);

#endif
