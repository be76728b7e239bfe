// Pictures whose sides are not multiples of 4, padded on the right and at the
// bottom to the next multiple: with transparent pixels where alpha is
// encoded, and otherwise with copies of the last column and row, which add no
// seam and make the edge blocks no harder to encode.
#ifndef VELT_FRAME_PADDING_H
#define VELT_FRAME_PADDING_H

// Pads the `width` x `height` RGBA picture at *pixels (taken with malloc) in
// place of it, updating the sides; transparent padding when `transparent`.
// Does nothing to a picture whose sides are multiples of 4. False, leaving
// it as it was, when there is no memory for the padded one.
bool pad_to_blocks(unsigned char** pixels, unsigned* width, unsigned* height, bool transparent);

#endif
