// Repairs the checksums of a mutated PNG, so that a fuzzer's changes reach
// the code behind the checks instead of stopping at them.
#ifndef VELT_FUZZ_PNG_CHECKSUMS_H
#define VELT_FUZZ_PNG_CHECKSUMS_H

#include <cstddef>
#include <cstdint>

// Rewrites the Adler-32 at the end of the image data's zlib stream (the data
// of every IDAT chunk, joined), of an animation frame's stream (the data of
// the fdAT chunks after an fcTL, joined, each without its sequence number)
// and of an iCCP profile's stream when the stream inflates, then the CRC of
// every whole chunk. The chunks are walked
// by their lengths from byte 8, whatever the signature says; bytes past the
// last whole chunk are left as they are.
void fix_png_checksums(uint8_t* png, size_t size);

// For LLVMFuzzerCustomMutator: libFuzzer's own mutation of `data`, then
// fix_png_checksums on the PNG that starts `png_at` bytes in, except in one
// mutant of eight, so that broken checksums are still met. Returns the new size.
size_t mutate_keeping_checksums(uint8_t* data, size_t size, size_t max_size, unsigned seed,
                                size_t png_at);

#endif
