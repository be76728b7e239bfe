// PNG decoding whose image data may not inflate past the size its header
// implies, so that a small file cannot expand into gigabytes before failing.
#ifndef VELT_PNG_BOUNDED_DECODE_H
#define VELT_PNG_BOUNDED_DECODE_H

#include <stddef.h>

// Decodes `png` to 8-bit RGBA like lodepng_decode32: the same settings, the
// same pixels and the same error codes for every file that inflates no
// further than its header allows. *pixels is taken with malloc (the caller
// frees it); on failure it is null and both sizes are 0. Returns 0 or a
// lodepng error code. The image data stream is cut off as soon as it
// inflates past the exact size that the header implies (error 109), which
// bounds the decoder's memory and time by the picture's size.
unsigned decode_png_rgba(unsigned char** pixels, unsigned* width, unsigned* height,
                         const unsigned char* png, size_t png_size);

// The picture size that a PNG's header gives, read and checked as the
// decoder reads it, without decoding anything. False when the header is not
// one the decoder accepts.
bool png_header_size(const unsigned char* png, size_t png_size, unsigned* width,
                     unsigned* height);

#endif
