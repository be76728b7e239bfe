// velt info end to end: the report of a small file, reading modes, and
// damaged files.
#include "e2e_support.h"
#include "velt_program.h"

namespace {

using e2e::Image;
using e2e::TempDir;
using toolkit_test::run_velt;

// Two 8x4 frames whose right-hand block changes: records of 2, 1 and 1 blocks.
std::string two_frame_pattern(const TempDir& dir) {
  Image first(8, 4, e2e::kRed), second(8, 4, e2e::kRed);
  first.fill_block(1, 0, e2e::kGreen);
  second.fill_block(1, 0, e2e::kBlue);
  return e2e::write_sequence(dir, "src", {first, second});
}

TEST(InfoCommand, ReportsHeaderRecordsAndTotals) {
  TempDir dir;
  std::string file = dir.file("a.velt");
  ASSERT_EQ(e2e::run_encode({two_frame_pattern(dir), file, "20"}).exit_status, 0);
  e2e::RunResult run = run_velt({"info", file});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "file        " + file + ", 45 bytes\n"
            "size        8 x 4 pixels, 2 x 1 blocks\n"
            "rate        20 fps (rate code 39)\n"
            "frames      2, then a closing record back to frame 0\n"
            "mode bit    clear: opaque, 8-byte records\n"
            "\n"
            "record  frame    changed blocks   changed       bytes\n"
            "     0  0                     2    100.0%          17\n"
            "     1  1                     1     50.0%           9\n"
            "     2  0 again               1     50.0%           9\n"
            "\n"
            "total       3 records, 4 blocks stored, 45 bytes with the header\n"
            "raw RGBA    2 frames x 8 x 4 x 4 = 256 bytes\n"
            "ratio       5.7 : 1\n");
}

TEST(InfoCommand, FlaggedFilesNeedTheRecordSize) {
  TempDir dir;
  std::string pattern = two_frame_pattern(dir);
  std::string file = dir.file("b.velt");
  ASSERT_EQ(e2e::run_encode_flags({pattern, file, "20", "2"}).exit_status, 0);
  struct Case {
    std::vector<std::string> options;
    int status;
    std::string line;  // expected in the output (or the error)
  };
  const Case cases[] = {
      {{}, 1, " at offset "},
      {{"--record-size", "12"}, 0, "mode bit    set (some encoding flag): read with 12-byte records\n"},
      {{"--mode", "opaque12"}, 0, "mode bit    set (some encoding flag): read as opaque12, 12-byte records\n"},
      {{"--record-size=8"}, 1, " at offset "},
      {{"--record-size", "16"}, 2, "--record-size is 8 or 12, not '16'"},
      {{"--record-size", "12", "--mode", "alpha12"}, 2, "give --mode or --record-size, not both"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"info", file};
    args.insert(args.end(), c.options.begin(), c.options.end());
    e2e::RunResult run = run_velt(args);
    EXPECT_EQ(run.exit_status, c.status) << c.line;
    EXPECT_NE((run.out + run.err).find(c.line), std::string::npos) << run.out << run.err;
  }
}

TEST(InfoCommand, DefaultReadingOfAFlaggedFileIsSaid) {
  TempDir dir;
  std::string file = dir.file("c.velt");
  ASSERT_EQ(e2e::run_encode_flags({two_frame_pattern(dir), file, "20", "1"}).exit_status, 0);
  e2e::RunResult run = run_velt({"info", file});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_NE(run.out.find("rate        20 fps (rate code 167)\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("read as alpha, 8-byte records (the default; see --help)\n"), std::string::npos)
      << run.out;
}

TEST(InfoCommand, DamagedFileIsOneLineWithItsOffset) {
  TempDir dir;
  std::string file = dir.file("a.velt");
  ASSERT_EQ(e2e::run_encode({two_frame_pattern(dir), file, "20"}).exit_status, 0);
  e2e::Bytes bytes = e2e::read_file(file);
  bytes.push_back(0);
  e2e::write_file(file, bytes);
  e2e::RunResult run = run_velt({"info", file});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("velt: " + file + ": ", 0), 0u) << run.err;
  EXPECT_TRUE(e2e::ends_with(run.err, " at offset 45\n")) << run.err;
}

}  // namespace
