// The rate an animation's delays are held at, the periods of each frame and
// the timing error; and the padding of pictures to whole blocks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "frame_padding.h"
#include "frame_timing.h"

namespace {

struct TimingCase {
  const char* name;
  std::vector<FrameDelay> delays;
  int32_t rate;                   // chosen
  std::vector<uint32_t> periods;  // each frame held, at that rate
  uint32_t error_us;              // the largest timing error
};

TEST(FrameTiming, ChoosesTheRateHoldsEachFrameAndReportsTheError) {
  const TimingCase cases[] = {
      {"constant 10 cs", {{10, 100}, {10, 100}}, 10, {1, 1}, 0},
      {"4 cs is 25 fps", {{4, 100}}, 25, {1}, 0},
      {"mixed 10 and 20 cs", {{10, 100}, {20, 100}, {10, 100}}, 10, {1, 2, 1}, 0},
      {"3 cs within 1 ms at 33 fps", {{3, 100}}, 33, {1}, 304},
      {"7 cs within 3 % at 14 fps", {{7, 100}}, 14, {1}, 1429},
      {"110 ms within 3 % at 9 fps, not 55", {{11, 100}}, 9, {1}, 1112},
      {"0 and 1 cs are shown as 100 ms", {{0, 100}, {1, 100}, {10, 100}}, 10, {1, 1, 1}, 0},
      {"2 cs within 1 ms at 48 fps", {{2, 100}}, 48, {1}, 834},
      {"APNG fraction 1/30 s", {{1, 30}, {2, 30}}, 30, {1, 2}, 0},
      {"no rate fits: the period of the shortest delay", {{23, 1000}, {37, 1000}, {37, 1000}},
       43, {1, 2, 2}, 9512},
      {"8 and 9 cs in turn: 12 fps", {{8, 100}, {9, 100}, {8, 100}}, 12, {1, 1, 1}, 6667},
      {"the longest GIF delay, within 3 % at 1 fps", {{65535, 100}}, 1, {655}, 350000},
  };
  for (const TimingCase& c : cases) {
    SCOPED_TRACE(c.name);
    const int32_t rate = choose_frame_rate(c.delays.data(), uint32_t(c.delays.size()));
    EXPECT_EQ(rate, c.rate);
    uint32_t error = 0;
    for (size_t i = 0; i < c.delays.size(); i++) {
      EXPECT_EQ(held_periods(c.delays[i], rate), c.periods[i]) << "frame " << i;
      uint32_t e = timing_error_microseconds(c.delays[i], rate);
      if (e > error) error = e;
    }
    EXPECT_EQ(error, c.error_us);
  }
}

TEST(FrameTiming, AGivenRateHoldsEveryFrameAtLeastOnce) {
  // 10 ms at 20 fps is under one period; 260 ms is 5.2 periods
  EXPECT_EQ(held_periods({2, 100}, 20), 1u);
  EXPECT_EQ(held_periods({26, 100}, 20), 5u);
  EXPECT_EQ(held_periods({25, 100}, 2), 1u);  // half a period rounds up
  EXPECT_EQ(timing_error_microseconds({26, 100}, 20), 10000u);
}

struct PaddingCase {
  const char* name;
  unsigned width, height;
  bool transparent;
  unsigned padded_width, padded_height;
};

TEST(FramePadding, PadsRightAndBottomWithEdgeCopiesOrTransparency) {
  const PaddingCase cases[] = {
      {"whole blocks stay", 8, 4, false, 8, 4},
      {"opaque 5x3", 5, 3, false, 8, 4},
      {"alpha 5x3", 5, 3, true, 8, 4},
      {"one pixel", 1, 1, false, 4, 4},
      {"one pixel, alpha", 1, 1, true, 4, 4},
  };
  for (const PaddingCase& c : cases) {
    SCOPED_TRACE(c.name);
    unsigned char* pixels = static_cast<unsigned char*>(malloc(size_t(c.width) * c.height * 4));
    for (unsigned i = 0; i < c.width * c.height * 4; i++) pixels[i] = static_cast<unsigned char>(i * 7 + 1);
    std::vector<unsigned char> source(pixels, pixels + c.width * c.height * 4);
    unsigned width = c.width, height = c.height;
    ASSERT_TRUE(pad_to_blocks(&pixels, &width, &height, c.transparent));
    ASSERT_EQ(width, c.padded_width);
    ASSERT_EQ(height, c.padded_height);
    for (unsigned y = 0; y < height; y++) {
      for (unsigned x = 0; x < width; x++) {
        const unsigned char* got = pixels + (y * width + x) * 4;
        unsigned char expected[4] = {0, 0, 0, 0};
        bool inside = x < c.width && y < c.height;
        if (inside || !c.transparent) {
          unsigned sx = x < c.width ? x : c.width - 1, sy = y < c.height ? y : c.height - 1;
          memcpy(expected, &source[(sy * c.width + sx) * 4], 4);
        }
        ASSERT_EQ(memcmp(got, expected, 4), 0) << "pixel " << x << "," << y;
      }
    }
    free(pixels);
  }
}

}  // namespace
