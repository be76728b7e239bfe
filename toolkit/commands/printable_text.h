// Text that comes from outside (a part file's reason, a path) made safe to
// print inside a one-line message.
#ifndef VELT_TOOLKIT_PRINTABLE_TEXT_H
#define VELT_TOOLKIT_PRINTABLE_TEXT_H

#include <string>

// `text` with every byte that a terminal would not simply show written as an
// escape: "\n", "\r", "\t", and "\xHH" for the other control characters
// (C0, DEL, and C1 in UTF-8), for the marks that reorder or break lines
// (U+2028, U+2029, U+200E, U+200F, U+202A..U+202E, U+2066..U+2069) and for
// bytes that are not well-formed UTF-8; a backslash becomes "\\". Printable
// ASCII and other well-formed UTF-8 stay as they are.
std::string printable_text(const std::string& text);

#endif
