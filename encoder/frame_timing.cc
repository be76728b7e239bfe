#include "frame_timing.h"

namespace {

// |periods / rate - numerator / denominator| seconds, as the numerator of a
// fraction over rate * denominator.
uint64_t error_numerator(FrameDelay delay, int32_t rate, uint32_t periods) {
  int64_t held = int64_t(periods) * delay.denominator;
  int64_t wanted = int64_t(delay.numerator) * rate;
  return uint64_t(held > wanted ? held - wanted : wanted - held);
}

// The delay's whole periods at `rate`, rounded to the nearest, halves up.
uint32_t nearest_periods(FrameDelay delay, int32_t rate) {
  uint64_t twice = 2 * uint64_t(delay.numerator) * uint64_t(rate) + delay.denominator;
  return uint32_t(twice / (2 * uint64_t(delay.denominator)));
}

// Whether `delay` is a whole number of periods, at least one, within 3 %
// of itself or 1 ms, whichever is more.
bool fits_rate(FrameDelay delay, int32_t rate) {
  uint32_t periods = nearest_periods(delay, rate);
  if (periods == 0) return false;
  // the error is error_numerator / (rate * denominator) seconds and the
  // delay numerator / denominator
  uint64_t error = error_numerator(delay, rate, periods);
  return error * 1000 <= uint64_t(rate) * delay.denominator ||
         error * 100 <= 3 * uint64_t(delay.numerator) * uint64_t(rate);
}

bool shorter_delay(FrameDelay a, FrameDelay b) {
  return uint64_t(a.numerator) * b.denominator < uint64_t(b.numerator) * a.denominator;
}

}  // namespace

FrameDelay shown_delay(FrameDelay delay) {
  if (delay.denominator == 0 || uint32_t(delay.numerator) * 50 < delay.denominator)
    return FrameDelay{1, 10};
  return delay;
}

int32_t choose_frame_rate(const FrameDelay* delays, uint32_t count) {
  for (int32_t rate = 1; rate <= TIMING_MAX_RATE; rate++) {
    bool fits = true;
    for (uint32_t i = 0; i < count && fits; i++) fits = fits_rate(shown_delay(delays[i]), rate);
    if (fits) return rate;
  }
  // no rate fits every delay: the period of the shortest one, so that each
  // frame is held at least for its delay less a period
  FrameDelay shortest = {0, 1};
  for (uint32_t i = 0; i < count; i++) {
    FrameDelay delay = shown_delay(delays[i]);
    if (i == 0 || shorter_delay(delay, shortest)) shortest = delay;
  }
  if (count == 0) return 1;
  uint32_t rate = uint32_t(shortest.denominator) / shortest.numerator;
  if (rate < 1) rate = 1;
  if (rate > TIMING_MAX_RATE) rate = TIMING_MAX_RATE;
  return int32_t(rate);
}

uint32_t held_periods(FrameDelay delay, int32_t rate) {
  uint32_t periods = nearest_periods(shown_delay(delay), rate);
  return periods == 0 ? 1 : periods;
}

uint32_t timing_error_microseconds(FrameDelay delay, int32_t rate) {
  FrameDelay shown = shown_delay(delay);
  uint64_t over = uint64_t(rate) * shown.denominator;
  uint64_t error = error_numerator(shown, rate, held_periods(delay, rate)) * 1000000;
  return uint32_t((error + over - 1) / over);
}
