// Exact file bytes of whole runs on small generated sequences. The frames are
// made of uniform blocks, whose records are easy to state, plus one block
// with a known colour record.
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"
#include "velt_format.h"

namespace e2e {
namespace {

const Rgba kGrey = {128, 128, 128, 255};
const Rgba kLight = {170, 170, 170, 255};
const Rgba kDark = {85, 85, 85, 255};

const Bytes kGreyRecord = {0x10, 0x84, 0, 0, 0, 0, 0, 0};

// White, black and two greys: endpoints white and black, then the index
// rows 0011 / 0101 / 1111 / 2233.
const Rgba kPatternBlock[16] = {kWhite, kWhite, kBlack, kBlack, kWhite, kBlack, kWhite, kBlack,
                                kBlack, kBlack, kBlack, kBlack, kLight, kLight, kDark,  kDark};
const Bytes kPatternRecord = {0xFF, 0xFF, 0x00, 0x00, 0x05, 0x11, 0x55, 0xAF};

Image blocks_8x4(Rgba left, Rgba right) {
  Image image(8, 4, left);
  image.fill_block(1, 0, right);
  return image;
}

struct NamedImage {
  std::string name;
  Image image;
};

// Sequences whose frames are found through the pattern, each with the whole
// file it must give at fps 20.
TEST(FileBytes, SequencesEncodeToExactFiles) {
  Image pattern_right = blocks_8x4(kBlue, kBlack);
  pattern_right.put_block(1, 0, kPatternBlock);
  struct Case {
    const char* why;
    std::vector<NamedImage> files;
    std::string pattern;
    Bytes expected;
  };
  const Case cases[] = {
      {"one frame: frame 0 in full, then a closing record with an empty map",
       {{"f_0.png", Image(4, 4, kRed)}},
       "f_X.png",
       concat({header(0x27, 1, 0, 0), {0x80}, kRedRecord, {0x00}})},
      {"three 8x4 frames that differ in every block, closing record back to frame 0",
       {{"f_0.png", blocks_8x4(kRed, kGreen)},
        {"f_1.png", pattern_right},
        {"f_2.png", blocks_8x4(kWhite, kBlack)}},
       "f_X.png",
       concat({header(0x27, 3, 1, 0), {0xC0}, kRedRecord, kGreenRecord, {0xC0}, kBlueRecord,
               kPatternRecord, {0xC0}, kWhiteRecord, kBlackRecord, {0xC0}, kRedRecord,
               kGreenRecord})},
      {"a gap ends the sequence: frame 3 (of another size) is never read",
       {{"f_0.png", Image(4, 4, kRed)}, {"f_1.png", Image(4, 4, kBlue)}, {"f_3.png", Image(8, 8, kWhite)}},
       "f_X.png",
       concat({header(0x27, 2, 0, 0), {0x80}, kRedRecord, {0x80}, kBlueRecord, {0x80}, kRedRecord})},
      {"two unchanged frames store empty maps only",
       {{"f_0.png", Image(4, 4, kGreen)}, {"f_1.png", Image(4, 4, kGreen)}},
       "f_X.png",
       concat({header(0x27, 2, 0, 0), {0x80}, kGreenRecord, {0x00}, {0x00}})},
      {"a pattern without X names a single frame; lower-case x is not replaced",
       {{"box.png", Image(4, 4, kBlue)}},
       "box.png",
       concat({header(0x27, 1, 0, 0), {0x80}, kBlueRecord, {0x00}})},
      {"every X of the pattern takes the frame number",
       {{"f_0_0.png", Image(4, 4, kRed)}, {"f_1_1.png", Image(4, 4, kGrey)}, {"f_2_1.png", Image(4, 4, kBlue)}},
       "f_X_X.png",
       concat({header(0x27, 2, 0, 0), {0x80}, kRedRecord, {0x80}, kGreyRecord, {0x80}, kRedRecord})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    TempDir dir;
    for (const NamedImage& f : c.files) write_png(dir.file(f.name), f.image);
    const std::string output = dir.file("out.velt");
    RunResult r = run_encode({dir.file(c.pattern), output, "20"});
    EXPECT_EQ(r.out, banner(dir.file(c.pattern), output, 20) + kSuccessLine);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_TRUE(same_bytes(read_file(output), c.expected));
  }
}

// 40x8 is 10 x 2 blocks: three map bytes, the first block of each byte in its
// top bit and the unused low bits of the last byte clear.
TEST(FileBytes, ChangeMapBitOrderOn40x8) {
  const Rgba colours[5] = {kRed, kGreen, kBlue, kBlack, kWhite};
  const Bytes records[5] = {kRedRecord, kGreenRecord, kBlueRecord, kBlackRecord, kWhiteRecord};
  Image frame0(40, 8, kBlack);
  Bytes frame0_records;
  for (unsigned k = 0; k < 20; ++k) {
    frame0.fill_block(k % 10, k / 10, colours[k % 5]);
    frame0_records = concat({frame0_records, records[k % 5]});
  }
  // Frame 1 changes block 9 (end of the top row) to grey, and in block 19
  // (the last) only the alpha of one pixel, by 1: 16 white pixels that are
  // no longer uniform give equal endpoints and all indices 0.
  Image frame1 = frame0;
  frame1.fill_block(9, 0, kGrey);
  frame1.set(38, 6, {255, 255, 255, 254});
  const Bytes white_uneven_alpha = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};

  TempDir dir;
  const std::string pattern = write_sequence(dir, "f", {frame0, frame1});
  const std::string output = dir.file("out.velt");
  RunResult r = run_encode({pattern, output, "20"});
  EXPECT_EQ(r.exit_status, 0) << r.out;
  const Bytes expected =
      concat({header(0x27, 2, 9, 1), {0xFF, 0xFF, 0xF0}, frame0_records,
              {0x00, 0x40, 0x10}, kGreyRecord, white_uneven_alpha,
              {0x00, 0x40, 0x10}, kWhiteRecord, kWhiteRecord});
  EXPECT_TRUE(same_bytes(read_file(output), expected));
}

// The largest accepted frame: 255 x 255 blocks, maps of 8129 bytes.
TEST(FileBytes, LargestFrame1020x1020) {
  Image frame(1020, 1020, kRed);
  Bytes records;
  records.reserve(65025 * 8);
  for (unsigned by = 0; by < 255; ++by) {
    for (unsigned bx = 0; bx < 255; ++bx) {
      bool blue = (bx + by) % 2 == 1;
      if (blue) frame.fill_block(bx, by, kBlue);
      records.insert(records.end(), (blue ? kBlueRecord : kRedRecord).begin(),
                     (blue ? kBlueRecord : kRedRecord).end());
    }
  }
  Bytes first_map(8129, 0xFF);
  first_map.back() = 0x80;  // 65025 = 8128 * 8 + 1

  TempDir dir;
  const std::string pattern = write_sequence(dir, "big", {frame});
  const std::string output = dir.file("out.velt");
  RunResult r = run_encode({pattern, output, "20"});
  EXPECT_EQ(r.exit_status, 0) << r.out;
  const Bytes expected = concat({header(0x27, 1, 254, 254), first_map, records, Bytes(8129, 0x00)});
  EXPECT_TRUE(same_bytes(read_file(output), expected));
}

// The header counts at most 65535 frames: when frame 65535 exists, frames
// 0 ... 65534 and the closing record are written, and the run fails with 8.
TEST(FileBytes, FrameAfterTheLastCountableOneFailsWithCode8) {
  TempDir dir;
  write_png(dir.file("red.png"), Image(4, 4, kRed));
  for (int k = 0; k <= 65535; ++k) {
    std::string link = dir.file("f_" + std::to_string(k) + ".png");
    ASSERT_EQ(symlink("red.png", link.c_str()), 0) << link;
  }
  const std::string output = dir.file("out.velt");
  RunResult r = run_encode({dir.file("f_X.png"), output, "20"});
  EXPECT_EQ(r.exit_status, 8) << r.out;
  EXPECT_TRUE(ends_with(r.out, "Error!Too many frames: frame 65535 and later were not encoded.\n" +
                                   failure_line(8)))
      << r.out;
  // frames 1 ... 65534 and the closing record: one empty map each
  const Bytes expected = concat({header(0x27, 65535, 0, 0), {0x80}, kRedRecord, Bytes(65535, 0x00)});
  EXPECT_TRUE(same_bytes(read_file(output), expected));
}

// Walks the frame records of a file with `blocks` blocks and 8-byte records;
// returns how many there are, or -1 if the file does not end on a record.
int count_frame_records(const Bytes& file, size_t blocks) {
  size_t map_size = VELT_CHANGE_MAP_SIZE(blocks), at = VELT_HEADER_SIZE;
  int records = 0;
  while (at < file.size()) {
    if (at + map_size > file.size()) return -1;
    size_t stored = 0;
    for (size_t i = 0; i < map_size; ++i) stored += __builtin_popcount(file[at + i]);
    at += map_size + stored * VELT_RECORD8_SIZE;
    ++records;
  }
  return at == file.size() ? records : -1;
}

TEST(FileBytes, BundledExampleEncodesAllSixteenFrames) {
  TempDir dir;
  const std::string pattern = std::string(VELT_SOURCE_DIR) + "/examples/wheel/frame_X.png";
  const std::string output = dir.file("wheel.velt");
  RunResult r = run_encode({pattern, output, "20"});
  EXPECT_EQ(r.out, banner(pattern, output, 20) + kSuccessLine);
  EXPECT_EQ(r.exit_status, 0);
  const Bytes file = read_file(output);
  ASSERT_GE(file.size(), 10u + 128);
  EXPECT_TRUE(same_bytes(Bytes(file.begin(), file.begin() + 10), header(0x27, 16, 31, 31)));
  EXPECT_EQ(Bytes(file.begin() + 10, file.begin() + 138), Bytes(128, 0xFF)) << "frame 0 stores every block";
  EXPECT_EQ(count_frame_records(file, 32 * 32), 17) << "16 frames and the closing record";
}

}  // namespace
}  // namespace e2e
