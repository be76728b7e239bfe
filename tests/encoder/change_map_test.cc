// Change detection between frames and the packed change map.
#include <gtest/gtest.h>

#include <vector>

#include "change_map.h"

namespace {

struct Frame {
  uint32_t width, height;
  std::vector<uint8_t> rgba;
  Frame(uint32_t w, uint32_t h, uint8_t fill = 0) : width(w), height(h), rgba(w * h * 4, fill) {}
  uint8_t* pixel(uint32_t x, uint32_t y) { return &rgba[(y * width + x) * 4]; }
};

std::vector<uint8_t> changes(Frame& current, Frame& previous) {
  std::vector<uint8_t> flags((current.width / 4) * (current.height / 4), 0xEE);
  detect_changes(current.rgba.data(), previous.rgba.data(), current.width, current.height,
                 flags.data());
  return flags;
}

std::vector<uint8_t> pack(const std::vector<uint8_t>& flags) {
  std::vector<uint8_t> map((flags.size() + 7) / 8 + 1, 0xEE);
  uint32_t size = pack_change_map(flags.data(), static_cast<uint32_t>(flags.size()), map.data());
  EXPECT_EQ(size, (flags.size() + 7) / 8);
  map.resize(size);
  return map;
}

}  // namespace

TEST(ChangeDetection, IdenticalFramesFlagNothing) {
  Frame a(16, 8, 77), b(16, 8, 77);
  EXPECT_EQ(changes(a, b), std::vector<uint8_t>(8, 0));  // every entry written, none set
}

TEST(ChangeDetection, OneByteAnywhereFlagsExactlyItsBlock) {
  Frame previous(16, 12, 100);
  // (x, y, channel): a pixel in a block interior, an alpha change by one, block corners
  const struct {
    uint32_t x, y, channel;
    uint32_t block;
  } cases[] = {{5, 9, 0, 9}, {5, 9, 3, 9}, {0, 0, 2, 0}, {15, 11, 3, 11}, {4, 3, 1, 1}};
  for (const auto& c : cases) {
    Frame current = previous;
    current.pixel(c.x, c.y)[c.channel] += 1;
    std::vector<uint8_t> expected(12, 0);
    expected[c.block] = 1;
    EXPECT_EQ(changes(current, previous), expected) << "pixel " << c.x << "," << c.y;
  }
}

TEST(ChangeDetection, ChangesCancellingOutStillCount) {
  // a byte up and another down in one block, and a whole row changed
  Frame previous(12, 8, 50);
  Frame current = previous;
  current.pixel(0, 0)[0] = 60;
  current.pixel(1, 0)[0] = 40;
  for (uint32_t x = 0; x < 12; x++) current.pixel(x, 6)[2] = 51;
  EXPECT_EQ(changes(current, previous), (std::vector<uint8_t>{1, 0, 0, 1, 1, 1}));
}

TEST(ChangeMap, FirstBlockOfEachByteInItsTopBit) {
  EXPECT_EQ(pack({1}), (std::vector<uint8_t>{0x80}));
  EXPECT_EQ(pack({0}), (std::vector<uint8_t>{0x00}));
  // 40 x 8: twenty blocks, all stored
  EXPECT_EQ(pack(std::vector<uint8_t>(20, 1)), (std::vector<uint8_t>{0xFF, 0xFF, 0xF0}));
  // twelve blocks, only the last changed
  std::vector<uint8_t> last(12, 0);
  last[11] = 1;
  EXPECT_EQ(pack(last), (std::vector<uint8_t>{0x00, 0x10}));
  // block 9 of sixteen: second bit of the second byte
  std::vector<uint8_t> ninth(16, 0);
  ninth[9] = 1;
  EXPECT_EQ(pack(ninth), (std::vector<uint8_t>{0x00, 0x40}));
  EXPECT_EQ(pack({1, 0, 1, 1, 0, 0, 0, 1}), (std::vector<uint8_t>{0xB1}));
}

TEST(ChangeMap, LargestFrameMapSize) {
  std::vector<uint8_t> flags(255 * 255, 1);
  std::vector<uint8_t> map = pack(flags);
  EXPECT_EQ(map.size(), 8129u);
  EXPECT_EQ(map.back(), 0x80);  // 65025 = 8128 * 8 + 1
}
