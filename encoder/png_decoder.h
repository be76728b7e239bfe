// The PNG decoder's C interface, with C linkage for the encoder's C++.
#ifndef VELT_PNG_DECODER_H
#define VELT_PNG_DECODER_H

// the decoder is built as C: its C++ wrapper does not exist
#ifndef LODEPNG_NO_COMPILE_CPP
#define LODEPNG_NO_COMPILE_CPP
#endif
extern "C" {
#include "lodepng.h"
}

// lodepng's code for a file that cannot be opened or sized: a missing frame.
enum { LODEPNG_CANNOT_OPEN = 78 };

#endif
