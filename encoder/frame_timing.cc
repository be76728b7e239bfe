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

// Whether `delay` is a whole number of periods, at least one, within 1 ms.
bool fits_rate(FrameDelay delay, int32_t rate) {
  uint32_t periods = nearest_periods(delay, rate);
  if (periods == 0) return false;
  // error / (rate * denominator) <= 1 ms
  return error_numerator(delay, rate, periods) * (1000000 / TIMING_MATCH_MICROSECONDS) <=
         uint64_t(rate) * delay.denominator;
}

// Whether two delays are the same length of time.
bool same_delay(FrameDelay a, FrameDelay b) {
  return uint64_t(a.numerator) * b.denominator == uint64_t(b.numerator) * a.denominator;
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
  // the most common delay: frames with one delay usually come in runs, so
  // counting each distinct delay over the whole list is quadratic only in
  // the distinct delays met, bounded by a small table
  enum { DISTINCT = 64 };
  FrameDelay seen[DISTINCT];
  uint32_t counts[DISTINCT];
  uint32_t distinct = 0;
  for (uint32_t i = 0; i < count; i++) {
    FrameDelay delay = shown_delay(delays[i]);
    uint32_t k = 0;
    while (k < distinct && !same_delay(seen[k], delay)) k++;
    if (k == distinct) {
      if (distinct == DISTINCT) continue;  // rarer delays past the table do not count
      seen[distinct] = delay;
      counts[distinct++] = 0;
    }
    counts[k]++;
  }
  if (distinct == 0) return 1;
  uint32_t best = 0;
  for (uint32_t k = 1; k < distinct; k++) {
    if (counts[k] > counts[best] || (counts[k] == counts[best] && shorter_delay(seen[k], seen[best])))
      best = k;
  }
  // the rate nearest to 1 / delay: denominator / numerator, rounded
  FrameDelay common = seen[best];
  uint32_t rate = (2 * uint32_t(common.denominator) + common.numerator) / (2 * uint32_t(common.numerator));
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
