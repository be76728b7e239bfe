// Frame patterns as the encoder expands them: every upper-case 'X' stands
// for the frame number in decimal, without leading zeros.
#ifndef VELT_FRAME_PATTERN_H
#define VELT_FRAME_PATTERN_H

#include <cstdint>
#include <string>

// Every 'X' of `pattern` replaced by `number`.
std::string expand_x_pattern(const std::string& pattern, int64_t number);

// The frame number whose expansion of `pattern` is exactly `path` (0 for a
// pattern without 'X' equal to it), or -1 when there is none.
int64_t frame_number_of(const std::string& pattern, const std::string& path);

// True when expanding `pattern` with some frame number gives exactly `path`.
inline bool pattern_produces(const std::string& pattern, const std::string& path) {
  return frame_number_of(pattern, path) >= 0;
}

#endif
