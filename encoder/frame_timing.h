// From an animation's per-frame delays to a VELT file's one rate: each source
// frame is held for a whole number of periods.
//
// The rule:
//   1. A delay under 20 ms (a GIF's 0 or 1 hundredths) is shown as 100 ms,
//      as browsers show it.
//   2. The rate is the smallest one from 1 to 64 fps at which every delay is
//      a whole number of periods (at least one) within 3 % of itself or 1 ms,
//      whichever is more (a 110 ms delay is 9 fps, not 55); when there is
//      none, the highest rate whose period is no shorter than the shortest
//      delay (1 / shortest delay, rounded down), within 1 to 64 fps, so that
//      no frame is held more than about a period off its delay. A rate the
//      user gives replaces both.
//   3. Each frame is held for its delay in periods, rounded to the nearest
//      (halves up), and at least one period.
// The timing error of a frame is the difference between the time it is held
// and its delay; the largest one is reported.
#ifndef VELT_FRAME_TIMING_H
#define VELT_FRAME_TIMING_H

#include <stdint.h>

#include "animation_frames.h"

enum { TIMING_MAX_RATE = 64 };

// The delay a frame is shown for (rule 1).
FrameDelay shown_delay(FrameDelay delay);

// The rate of rule 2 for `count` delays.
int32_t choose_frame_rate(const FrameDelay* delays, uint32_t count);

// The periods frame `delay` is held for at `rate` (rule 3).
uint32_t held_periods(FrameDelay delay, int32_t rate);

// |held time - shown delay| of a frame at `rate`, in microseconds (rounded up).
uint32_t timing_error_microseconds(FrameDelay delay, int32_t rate);

#endif
