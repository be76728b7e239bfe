// Where a command's source frames come from: an 'X' pattern as velt-encode
// takes it, a printf-style pattern (%d or %0Nd), or a directory of PNG files
// taken in natural order.
#ifndef VELT_TOOLKIT_FRAME_INPUT_H
#define VELT_TOOLKIT_FRAME_INPUT_H

#include <cstdint>
#include <string>
#include <vector>

#include "frame_pattern.h"  // expand_x_pattern, as the encoder expands its pattern
#include "velt_format.h"

// The most frames one VELT file can count.
constexpr int32_t MAX_INPUT_FRAMES = VELT_MAX_FRAME_COUNT;

// SINGLE_FILE: the input names one file (a still picture or an animation),
// also when its name holds an X that names no frames as a pattern.
enum class FrameInputKind { X_PATTERN, PRINTF_PATTERN, DIRECTORY, SINGLE_FILE };

struct FrameInput {
  FrameInputKind kind;
  std::vector<std::string> frames;  // the frame files found, in order
};


// A printf-style frame pattern split at its one conversion.
struct PrintfPattern {
  std::string prefix;  // with "%%" already turned into "%"
  int width;           // 0 for %d, N for %0Nd
  std::string suffix;
};

// Parses a pattern with exactly one %d or %0Nd conversion ("%%" is a
// percent sign). Returns false when it has none; sets `error` (and returns
// false) when it has more than one or another conversion.
bool parse_printf_pattern(const std::string& text, PrintfPattern* pattern, std::string* error);
// The pattern's path for frame `number`.
std::string format_printf_pattern(const PrintfPattern& pattern, int32_t number);

// True when `a` sorts before `b` in natural order: runs of digits compare as
// numbers (frame2 before frame10), everything else byte by byte.
bool natural_less(const std::string& a, const std::string& b);

// Finds the frames of `input`: a directory gives its *.png files (any case
// of the extension, hidden files left out) in natural order; a printf
// pattern its frames from the first of 0..4 that exists up to the first
// missing one; anything else is an 'X' pattern, whose frames run from 0 up to
// the first missing one (a pattern without 'X' names one frame). Only a name
// that does not exist ends a sequence. Returns false with a one-line `error`
// when no frame is found, the input is malformed, a frame path exists but is
// not a regular file or cannot be looked at ("PATH: not a regular file",
// "PATH: Permission denied"), or more than `max_frames` frames exist.
bool resolve_frame_input(const std::string& input, FrameInput* resolved, std::string* error,
                         int32_t max_frames = MAX_INPUT_FRAMES);

#endif
