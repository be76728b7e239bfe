// The layout check on files built by hand: what it accepts and reports, the
// mode it reads records in, and where it refuses truncated and damaged files.
#include <gtest/gtest.h>

#include "e2e_support.h"
#include "reader_support.h"
#include "velt_reader.h"

namespace {

using e2e::Bytes;
using e2e::concat;
using e2e::header;
using e2e::repeat;
using reader_support::FileCopy;

const Bytes kRecord8 = {0x00, 0xF8, 0, 0, 0, 0, 0, 0};
const Bytes kRecord12 = {0x00, 0xF8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// 8x4 (two blocks), three frames: both blocks, the second, none, then the
// closing record with the first.
Bytes three_frames(uint8_t rate_code, const Bytes& record) {
  return concat({header(rate_code, 3, 1, 0), {0xC0}, record, record, {0x40}, record, {0x00},
                 {0x80}, record});
}

bool same_spans(const std::vector<FrameRecordSpan>& actual,
                const std::vector<FrameRecordSpan>& expected) {
  if (actual.size() != expected.size()) return false;
  for (size_t i = 0; i < actual.size(); ++i)
    if (actual[i].offset != expected[i].offset || actual[i].size != expected[i].size ||
        actual[i].changed_blocks != expected[i].changed_blocks)
      return false;
  return true;
}

TEST(VeltLayout, AcceptsACompleteFileAndReportsItsRecords) {
  const FileCopy file(three_frames(0x27, kRecord8));
  VeltLayout layout;
  ReadError error;
  // the rate code says flags 0, so the asked 12-byte mode does not apply
  ASSERT_TRUE(file.read(MODE_ALPHA12, &layout, &error)) << error.offset << ": " << error.reason;
  EXPECT_EQ(layout.mode, MODE_OPAQUE);
  EXPECT_EQ(layout.header.rate_code, 0x27);
  EXPECT_FALSE(layout.header.flags_marked);
  EXPECT_EQ(layout.header.fps, 20);
  EXPECT_EQ(layout.header.frame_count, 3);
  EXPECT_EQ(layout.header.blocks_across, 2);
  EXPECT_EQ(layout.header.blocks_down, 1);
  EXPECT_EQ(layout.header.width, 8);
  EXPECT_EQ(layout.header.height, 4);
  EXPECT_TRUE(same_spans(layout.records, {{10, 17, 2}, {27, 9, 1}, {36, 1, 0}, {37, 9, 1}}));
}

TEST(VeltLayout, MarkedFilesAreReadInTheAskedMode) {
  const FileCopy file(three_frames(0xA7, kRecord12));
  VeltLayout layout;
  ReadError error;
  ASSERT_TRUE(file.read(MODE_OPAQUE12, &layout, &error)) << error.offset << ": " << error.reason;
  EXPECT_EQ(layout.mode, MODE_OPAQUE12);
  EXPECT_TRUE(layout.header.flags_marked);
  EXPECT_EQ(layout.header.fps, 20);  // bit 7 is not part of the rate
  EXPECT_TRUE(same_spans(layout.records, {{10, 25, 2}, {35, 13, 1}, {48, 1, 0}, {49, 13, 1}}));

  // read with 8-byte records, the next change maps fall inside record 0's
  // second record (zero bytes) and leave bytes over
  ASSERT_FALSE(file.read(MODE_ALPHA, &layout, &error));
  EXPECT_EQ(error.offset, 30u);
  EXPECT_EQ(error.reason, "trailing bytes after the closing record (32 bytes)");
}

// Every prefix of a valid file ends inside something: refused where it ends.
TEST(VeltLayout, EveryTruncatedPrefixIsRefusedAtItsEnd) {
  // 40x8: 20 blocks, three-byte change maps with four padding bits
  const Bytes all = concat({header(0xA7, 2, 9, 1), {0xFF, 0xFF, 0xF0}, repeat(kRecord12, 20),
                            {0x00, 0x10, 0x20}, kRecord12, kRecord12, {0x00, 0x00, 0x00}});
  VeltLayout layout;
  ReadError error;
  ASSERT_TRUE(FileCopy(all).read(MODE_ALPHA12, &layout, &error)) << error.reason;
  ASSERT_EQ(layout.records.size(), 3u);
  for (size_t size = 0; size < all.size(); ++size) {
    SCOPED_TRACE(size);
    const FileCopy prefix(Bytes(all.begin(), all.begin() + size));
    ASSERT_FALSE(prefix.read(MODE_ALPHA12, &layout, &error));
    EXPECT_EQ(error.offset, size) << error.reason;
    EXPECT_EQ(error.reason.rfind("file ends ", 0), 0u) << error.reason;
  }
}

// The largest frame: 255 x 255 blocks, change maps of 8129 bytes whose last
// byte holds one block and seven padding bits.
TEST(VeltLayout, LargestFrameAndItsLastPaddingBits) {
  const size_t blocks = 255 * 255;
  Bytes first_map(8129, 0xFF);
  first_map.back() = 0x80;
  Bytes closing_map(8129, 0x00);
  Bytes file = concat({header(0x27, 1, 254, 254), first_map, repeat(kRecord8, blocks), closing_map});
  VeltLayout layout;
  ReadError error;
  ASSERT_TRUE(FileCopy(file).read(MODE_OPAQUE, &layout, &error)) << error.reason;
  EXPECT_EQ(layout.header.width, 1020);
  EXPECT_EQ(layout.header.height, 1020);
  EXPECT_TRUE(same_spans(layout.records, {{10, 8129 + 8 * blocks, uint32_t(blocks)},
                                          {10 + 8129 + 8 * blocks, 8129, 0}}));

  file.back() = 0x01;
  ASSERT_FALSE(FileCopy(file).read(MODE_OPAQUE, &layout, &error));
  EXPECT_EQ(error.offset, file.size() - 1);
  EXPECT_EQ(error.reason, "padding bits of the change map of frame record 1 are set");
}

}  // namespace
