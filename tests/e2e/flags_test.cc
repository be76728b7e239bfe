// velt-encode-flags: the same run with any flags value.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace e2e {
namespace {

const Rgba kClear = {0, 0, 0, 0};
const Rgba kClearRed = {255, 0, 0, 0};

// 16x4: a fully transparent block, a uniform white block, and two blocks
// with some transparent pixels.
Image alpha_frame() {
  Image image(16, 4, kClearRed);
  image.fill_block(1, 0, kWhite);
  const Rgba mixed[16] = {kWhite, kWhite, kBlack, kBlack, kBlack, kBlack, kWhite, kWhite,
                          kClear, kClear, kClear, kClear, kWhite, kBlack, kWhite, kBlack};
  image.put_block(2, 0, mixed);
  const Rgba red_with_holes[16] = {kRed, kRed, kClear, kClear, kClear, kClear, kRed, kRed,
                                   kRed, kRed, kRed,   kRed,   kRed,   kRed,   kRed, kRed};
  image.put_block(3, 0, red_with_holes);
  return image;
}

TEST(Flags, RecordsAndRateCodeFollowTheFlags) {
  // Plain mode: alpha only breaks uniformity; transparent pixels count by colour.
  const Bytes plain = concat({{0xF0},
                              {0x00, 0xF8, 0, 0, 0, 0, 0, 0},  // clear red is still uniform
                              {0xFF, 0xFF, 0, 0, 0, 0, 0, 0},
                              {0xFF, 0xFF, 0x00, 0x00, 0x05, 0x50, 0x55, 0x11},
                              {0x00, 0xF8, 0x00, 0x00, 0x05, 0x50, 0x00, 0x00},
                              {0x00}});
  const Bytes alpha_aware = concat({{0xF0},
                                    {0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF},  // transparent
                                    {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00},  // equal endpoints
                                    {0x00, 0x00, 0xFF, 0xFF, 0x50, 0x05, 0xFF, 0x44},  // index 3 is clear
                                    {0x00, 0xF8, 0x00, 0xF8, 0x0F, 0xF0, 0x00, 0x00},  // one colour + clear
                                    {0x00}});
  const Bytes plain12 = concat({{0xF0},
                                {0x00, 0xF8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                                {0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                                // white, black, white: indices 0 and 1 as a 48-bit string
                                {0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x92, 0x40, 0x24, 0x90, 0x41},
                                {0x00, 0xF8, 0x00, 0x00, 0x00, 0xF8, 0x00, 0x92, 0x40, 0x00, 0x00, 0x00},
                                {0x00}});
  const Bytes alpha_aware12 =
      concat({{0xF0},
              {0x00, 0x00, 0x00, 0x00, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44},  // transparent
              {0xFF, 0xFF, 0xFF, 0xFF, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33},  // opaque level
              {0x00, 0x00, 0xFF, 0xFF, 0x77, 0x33, 0x33, 0x77, 0x44, 0x44, 0x73, 0x73},  // code 4 is clear
              {0x00, 0xF8, 0x00, 0xF8, 0x33, 0x44, 0x44, 0x33, 0x33, 0x33, 0x33, 0x33},
              {0x00}});
  struct Case {
    const char* flags;
    Bytes expected;
    const char* why;
  };
  const Case cases[] = {
      {"0", concat({header(0x27, 1, 3, 0), plain}), "flags 0 is the command line's plain mode"},
      {"1", concat({header(0xA7, 1, 3, 0), alpha_aware}),
       "alpha-aware mode; any flag sets bit 7 of the rate code"},
      {"2", concat({header(0xA7, 1, 3, 0), plain12}), "12-byte records, three-endpoint layout"},
      {"3", concat({header(0xA7, 1, 3, 0), alpha_aware12}), "12-byte records with per-pixel alpha"},
  };
  TempDir dir;
  const std::string pattern = write_sequence(dir, "a", {alpha_frame()});
  const std::string output = dir.file("out.velt");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("flags ") + c.flags + ": " + c.why);
    RunResult r = run_encode_flags({pattern, output, "20", c.flags});
    EXPECT_EQ(r.exit_status, 0) << r.out;
    EXPECT_TRUE(ends_with(r.out, kSuccessLine)) << r.out;
    EXPECT_TRUE(same_bytes(read_file(output), c.expected));
  }
}

}  // namespace
}  // namespace e2e
