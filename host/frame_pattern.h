// Frame patterns as the encoder expands them: every upper-case 'X' stands
// for the frame number in decimal, without leading zeros.
#ifndef VELT_FRAME_PATTERN_H
#define VELT_FRAME_PATTERN_H

#include <cstdint>
#include <string>

// Every 'X' of `pattern` replaced by `number`.
std::string expand_x_pattern(const std::string& pattern, int64_t number);

// True when expanding `pattern` with some frame number gives exactly `path`;
// for a pattern without 'X', when the two are equal.
bool pattern_produces(const std::string& pattern, const std::string& path);

#endif
