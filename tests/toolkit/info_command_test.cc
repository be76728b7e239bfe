// velt info end to end: the report of a small file, reading modes, damaged
// files and the sizes on the wire.
#include <zlib.h>

#include <random>

#include "e2e_support.h"
#include "velt_program.h"
#include "wire_size.h"

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
            "ratio       5.7 : 1\n"
            "gzip        46 bytes, 102.2% of the file (zlib, level 9)\n"
            "brotli      45 bytes, 100.0% of the file (quality 11)\n");
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

// 128 x 128 blocks, 5 frames whose every block changes and a closing record
// back to frame 0: about 800 KB, in several of the gzip stream's input pieces
// and past brotli's 512 KiB window. A quarter of the records are noise, the
// rest come from 256 repeated ones, so that both compressors find matches.
e2e::Bytes large_file() {
  const size_t blocks = 128 * 128;
  std::mt19937 random(7);
  std::vector<e2e::Bytes> repeated(256, e2e::Bytes(8));
  for (e2e::Bytes& record : repeated)
    for (uint8_t& byte : record) byte = uint8_t(random());
  std::vector<e2e::Bytes> frames(5);
  for (e2e::Bytes& records : frames) {
    for (size_t k = 0; k < blocks; ++k) {
      e2e::Bytes record = repeated[random() % 256];
      if (random() % 4 == 0)
        for (uint8_t& byte : record) byte = uint8_t(random());
      records.insert(records.end(), record.begin(), record.end());
    }
  }
  const e2e::Bytes map(blocks / 8, 0xFF);
  e2e::Bytes file = e2e::header(39, 5, 127, 127);
  for (int record = 0; record <= 5; ++record) file = e2e::concat({file, map, frames[record % 5]});
  return file;
}

e2e::Bytes stream_of(bool (*stream)(const uint8_t*, size_t, const ByteSink&, std::string*),
                     const e2e::Bytes& bytes) {
  e2e::Bytes out;
  std::string error;
  EXPECT_TRUE(stream(bytes.data(), bytes.size(),
                     [&out](const uint8_t* piece, size_t size) { out.insert(out.end(), piece, piece + size); },
                     &error))
      << error;
  return out;
}

// The bytes a gzip stream holds, or none when zlib finds it broken.
e2e::Bytes gunzip(const e2e::Bytes& gzip) {
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK) return {};
  e2e::Bytes out(64 << 20);
  stream.next_in = const_cast<Bytef*>(gzip.data());
  stream.avail_in = uInt(gzip.size());
  stream.next_out = out.data();
  stream.avail_out = uInt(out.size());
  const int status = inflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  inflateEnd(&stream);
  return status == Z_STREAM_END && stream.avail_in == 0 ? out : e2e::Bytes();
}

// The gzip stream unpacks to the file and has no name or time stamp in its
// header; the brotli stream is the one the brotli command writes; velt info
// shows both sizes, and leaves them out when asked.
TEST(InfoCommand, WireSizesAreThoseOfTheFilesStreams) {
  TempDir dir;
  toolkit_test::write_noise_frames(dir, 6);
  const std::string small = dir.file("small.velt"), noise = dir.file("noise.velt"),
                    large = dir.file("large.velt");
  ASSERT_EQ(e2e::run_encode({two_frame_pattern(dir), small, "20"}).exit_status, 0);
  ASSERT_EQ(e2e::run_encode({dir.file("fX.png"), noise, "20"}).exit_status, 0);
  e2e::write_file(large, large_file());
  const struct {
    const char* why;
    std::string file;
  } cases[] = {
      {"45 bytes: brotli's smallest window", small},
      {"noise frames as the encoder writes them", noise},
      {"800 KB: zlib fed in pieces, several brotli blocks", large},
  };
  for (const auto& c : cases) {
    const e2e::Bytes bytes = e2e::read_file(c.file);
    const e2e::Bytes gzip = stream_of(gzip_stream, bytes), brotli = stream_of(brotli_stream, bytes);
    EXPECT_TRUE(e2e::same_bytes(gunzip(gzip), bytes)) << c.why;
    ASSERT_GE(gzip.size(), 10u) << c.why;
    EXPECT_EQ(e2e::Bytes(gzip.begin() + 3, gzip.begin() + 8), e2e::Bytes(5, 0))
        << c.why << ": flags and time stamp";
    e2e::RunResult command = e2e::run_program(BROTLI_PROGRAM, {"-q", "11", "-c", c.file});
    ASSERT_EQ(command.exit_status, 0) << command.err;
    EXPECT_TRUE(e2e::same_bytes(brotli, e2e::Bytes(command.out.begin(), command.out.end()))) << c.why;

    e2e::RunResult info = run_velt({"info", c.file});
    e2e::RunResult quick = run_velt({"info", c.file, "--no-wire-size"});
    ASSERT_EQ(info.exit_status, 0) << info.err;
    ASSERT_EQ(quick.exit_status, 0) << quick.err;
    const std::string sizes = info.out.substr(std::min(quick.out.size(), info.out.size()));
    EXPECT_EQ(info.out.substr(0, quick.out.size()), quick.out) << c.why;
    EXPECT_EQ(sizes.rfind("gzip        " + std::to_string(gzip.size()) + " bytes, ", 0), 0u) << sizes;
    EXPECT_NE(sizes.find("\nbrotli      " + std::to_string(brotli.size()) + " bytes, "), std::string::npos)
        << sizes;
  }
}

}  // namespace
