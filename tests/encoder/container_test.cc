// The file header: rate code, identity, size codes and big-endian count.
#include <gtest/gtest.h>

#include "container.h"

TEST(Container, RateCodeWrapsLikeAByteAndMarksNonZeroFlags) {
  struct Case {
    int32_t fps, flags;
    uint8_t expected;
  };
  const Case cases[] = {
      {20, 0, 39},    // 2 * 20 - 1
      {120, 0, 239},
      {20, 1, 167},   // 39 with bit 7 forced on
      {120, 3, 239},  // 239 keeps its low seven bits, bit 7 was already set
      {200, 0, 143},  // 399 mod 256
      {200, 2, 143},  // 399 mod 128 = 15, plus 128
      {0, 0, 255},    // -1 in a byte
      {-3, 0, 249},
      {64, 4, 255},   // higher flag bits also mark the header
  };
  for (const Case& c : cases)
    EXPECT_EQ(header_rate_code(c.fps, c.flags), c.expected) << c.fps << " fps, flags " << c.flags;
}

TEST(Container, HeaderFieldsLandAtTheirOffsets) {
  uint8_t header[VELT_HEADER_SIZE] = {};
  set_header_identity(header, 39);
  set_header_size(header, 2, 1);
  set_header_frame_count(header, 3);
  const uint8_t expected[] = {'V', 'E', 'L', 'T', 0, 39, 0, 3, 1, 0};
  ASSERT_EQ(sizeof header, sizeof expected);
  EXPECT_EQ(0, memcmp(header, expected, sizeof expected));

  set_header_size(header, 255, 255);  // 1020 x 1020
  set_header_frame_count(header, 0xABCD);
  EXPECT_EQ(header[6], 0xAB);  // high byte first
  EXPECT_EQ(header[7], 0xCD);
  EXPECT_EQ(header[8], 254);
  EXPECT_EQ(header[9], 254);
}
