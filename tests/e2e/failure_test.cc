// Runs that fail: each failure code with its message, the result line and
// exit status, and what the output file holds afterwards.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

extern "C" {
#include "lodepng.h"
}

namespace e2e {
namespace {


// The text lodepng gives for the file at `path`, as the encoder quotes it.
std::string decode_error_text(const std::string& path) {
  unsigned char* pixels = nullptr;
  unsigned w = 0, h = 0;
  unsigned error = lodepng_decode32_file(&pixels, &w, &h, path.c_str());
  free(pixels);
  EXPECT_NE(error, 0u) << path << " decodes, but the test needs it not to";
  return lodepng_error_text(error);
}

// A PNG cut short in its first chunk: it exists but does not decode.
void write_broken_png(const TempDir& dir, const std::string& name) {
  write_png(dir.file(name), Image(4, 4, kGreen));
  Bytes png = read_file(dir.file(name));
  png.resize(40);
  write_file(dir.file(name), png);
}

// A file name that makes `dir`/<name> exactly `length` bytes long, with the
// frame number's X just before ".png".
std::string name_for_path_length(const TempDir& dir, size_t length) {
  size_t fixed = dir.path().size() + 1 + std::string("_X.png").size();
  return std::string(length - fixed, 'n') + "_X.png";
}

struct Outcome {
  std::string pattern, output;  // as passed on the command line
  std::string message;          // the encoder's text before the result line
  int code;
  bool output_exists;
  Bytes file;  // checked when output_exists
};

struct Case {
  const char* why;
  std::function<Outcome(const TempDir&)> setup;
};

TEST(Failures, EachFailureHasItsCodeMessageAndFile) {
  const Case cases[] = {
      {"1: the output directory does not exist",
       [](const TempDir& d) {
         std::string p = write_sequence(d, "f", {Image(4, 4, kRed)});
         std::string out = d.file("missing/out.velt");
         return Outcome{p, out, "Error!Cannot open output file " + out + ".\n", 1, false, {}};
       }},
      {"1: the output is checked before frame 0 is read",
       [](const TempDir& d) {
         std::string out = d.file("missing/out.velt");
         return Outcome{d.file("f_X.png"), out, "Error!Cannot open output file " + out + ".\n", 1,
                        false, {}};
       }},
      {"2: frame 0 is missing; the output stays empty",
       [](const TempDir& d) {
         return Outcome{d.file("f_X.png"), d.file("out.velt"),
                        "Error!Cannot read frame " + d.file("f_0.png") +
                            ": failed to open file for reading.\n",
                        2, true, {}};
       }},
      {"2: frame 0 exists but does not decode",
       [](const TempDir& d) {
         write_broken_png(d, "f_0.png");
         return Outcome{d.file("f_X.png"), d.file("out.velt"),
                        "Error!Cannot read frame " + d.file("f_0.png") + ": " +
                            decode_error_text(d.file("f_0.png")) + ".\n",
                        2, true, {}};
       }},
      {"2: the path of frame 0 is 256 bytes long, 257 with its NUL",
       [](const TempDir& d) {
         std::string name = name_for_path_length(d, 256);
         return Outcome{d.file(name), d.file("out.velt"), "Error!Frame path too long.\n", 2, true, {}};
       }},
      {"2: frame 10's path is one byte longer than frames 0-9's, which just fit",
       [](const TempDir& d) {
         std::string name = name_for_path_length(d, 255);
         Bytes expected = header(0x27, 10, 0, 0);
         for (int k = 0; k < 10; ++k) {
           std::string frame = name;
           frame.replace(frame.find('X'), 1, std::to_string(k));
           write_png(d.file(frame), Image(4, 4, k % 2 ? kBlue : kRed));
           expected = concat({expected, {0x80}, k % 2 ? kBlueRecord : kRedRecord});
         }
         return Outcome{d.file(name), d.file("out.velt"), "Error!Frame path too long.\n", 2, true,
                        expected};
       }},
      {"3: frame 0 is 6x4; the header stays all zero",
       [](const TempDir& d) {
         std::string p = write_sequence(d, "f", {Image(6, 4, kRed)});
         return Outcome{p, d.file("out.velt"),
                        "Error!The width and height must be divisible by 4.\n", 3, true,
                        Bytes(10, 0x00)};
       }},
      {"3: frame 1 is 30 wide; frame 0's record stays, no closing record",
       [](const TempDir& d) {
         Image frame0(8, 4, kRed);
         frame0.fill_block(1, 0, kGreen);
         std::string p = write_sequence(d, "f", {frame0, Image(30, 4, kBlue), Image(8, 4, kBlue)});
         return Outcome{p, d.file("out.velt"),
                        "Error!The width and height must be divisible by 4.\n", 3, true,
                        concat({header(0x27, 1, 1, 0), {0xC0}, kRedRecord, kGreenRecord})};
       }},
      {"3: frame 1 is 6 high",
       [](const TempDir& d) {
         std::string p = write_sequence(d, "f", {Image(4, 4, kRed), Image(4, 6, kBlue)});
         return Outcome{p, d.file("out.velt"),
                        "Error!The width and height must be divisible by 4.\n", 3, true,
                        concat({header(0x27, 1, 0, 0), {0x80}, kRedRecord})};
       }},
      {"4: frame 0 is 1024 wide; the message has no line end; header with count 0 only",
       [](const TempDir& d) {
         std::string p = write_sequence(d, "f", {Image(1024, 4, kRed)});
         return Outcome{p, d.file("out.velt"), "Image width and height overflow\uFF01", 4, true,
                        header(0x27, 0, 0, 0)};
       }},
      {"4: frame 0 is 1024 high",
       [](const TempDir& d) {
         std::string p = write_sequence(d, "f", {Image(4, 1024, kRed)});
         return Outcome{p, d.file("out.velt"), "Image width and height overflow\uFF01", 4, true,
                        header(0x27, 0, 0, 0)};
       }},
      {"5: frame 1 is 8x8 after a 4x4 frame 0; no closing record",
       [](const TempDir& d) {
         std::string p = write_sequence(d, "f", {Image(4, 4, kRed), Image(8, 8, kBlue)});
         return Outcome{p, d.file("out.velt"), "Error!Frame 1 is 8x8, but frame 0 is 4x4.\n", 5,
                        true, concat({header(0x27, 1, 0, 0), {0x80}, kRedRecord})};
       }},
      {"7: frame 1 does not decode: the sequence ends there with its closing record",
       [](const TempDir& d) {
         std::string p = write_sequence(d, "f", {Image(4, 4, kRed)});
         write_broken_png(d, "f_1.png");
         write_png(d.file("f_2.png"), Image(4, 4, kBlue));
         return Outcome{p, d.file("out.velt"),
                        "Error!Cannot decode frame " + d.file("f_1.png") + ": " +
                            decode_error_text(d.file("f_1.png")) + ".\n",
                        7, true, concat({header(0x27, 1, 0, 0), {0x80}, kRedRecord, {0x00}})};
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    TempDir dir;
    Outcome want = c.setup(dir);
    RunResult r = run_encode({want.pattern, want.output, "20"});
    EXPECT_EQ(r.out, banner(want.pattern, want.output, 20) + want.message + failure_line(want.code));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_status, want.code);
    EXPECT_EQ(file_exists(want.output), want.output_exists);
    if (want.output_exists) {
      EXPECT_TRUE(same_bytes(read_file(want.output), want.file));
    }
  }
}

// One byte shorter than the failing case above: a 255-byte frame path and
// its NUL fill the 256 bytes exactly and are accepted.
TEST(Failures, FramePathOf255BytesIsAccepted) {
  TempDir dir;
  std::string name = name_for_path_length(dir, 255);
  std::string frame0 = name;
  frame0.replace(frame0.find('X'), 1, "0");
  write_png(dir.file(frame0), Image(4, 4, kRed));
  RunResult r = run_encode({dir.file(name), dir.file("out.velt"), "20"});
  EXPECT_EQ(r.exit_status, 0) << r.out;
  EXPECT_TRUE(same_bytes(read_file(dir.file("out.velt")),
                         concat({header(0x27, 1, 0, 0), {0x80}, kRedRecord, {0x00}})));
}

// /dev/full opens, but every write to it fails: the failure must reach the
// result, not get lost in a buffer. Where it shows first depends on the
// buffering: a small file is still buffered when the header seek flushes it,
// a large one fails in its writes already.
TEST(Failures, OutputThatCannotBeWrittenGivesCode6) {
  const std::string seek_failed = "Failed to seek to position\n";
  const std::string write_failed = "Error!Failed to write /dev/full.\n";
  struct Case {
    unsigned side;
    bool write_failure_seen;
    const char* why;
  };
  const Case cases[] = {
      {4, false, "a 20-byte file: buffered until the seek"},
      {512, true, "128 KiB of records: writes fail on the way"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    TempDir dir;
    std::string pattern = write_sequence(dir, "f", {Image(c.side, c.side, kRed)});
    RunResult r = run_encode({pattern, "/dev/full", "20"});
    EXPECT_EQ(r.exit_status, 6);
    const std::string head = banner(pattern, "/dev/full", 20);
    ASSERT_TRUE(r.out.compare(0, head.size(), head) == 0 && ends_with(r.out, failure_line(6))) << r.out;
    std::string messages = r.out.substr(head.size(), r.out.size() - head.size() - failure_line(6).size());
    EXPECT_TRUE(messages == seek_failed || messages == write_failed || messages == seek_failed + write_failed)
        << messages;
    if (c.write_failure_seen) {
      EXPECT_NE(messages.find(write_failed), std::string::npos) << messages;
    }
  }
}

}  // namespace
}  // namespace e2e
