// Runs that fail: each failure code with its message, the result line and
// exit status, and what the output file holds afterwards.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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
  std::free(pixels);
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

// Writes `bytes` at `path` when its directory exists; true when written.
bool write_if_possible(const std::string& path, const Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  return std::fclose(f) == 0;
}

// How many hidden temporary files ("*.tmp") `dir` holds.
int temporary_files(const std::string& dir) {
  int count = 0;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name.size() > 4 && name[0] == '.' && name.compare(name.size() - 4, 4, ".tmp") == 0)
        ++count;
    }
    closedir(d);
  }
  return count;
}

// A file name that makes `dir`/<name> exactly `length` bytes long, with the
// frame number's X just before ".png".
std::string name_for_path_length(const TempDir& dir, size_t length) {
  size_t fixed = dir.path().size() + 1 + std::string("_X.png").size();
  return std::string(length - fixed, 'n') + "_X.png";
}

// What a case expects. The output, when its directory exists, holds kOld
// before the run: a run that keeps no file must leave it so.
struct Outcome {
  std::string pattern, output;  // as passed on the command line
  std::string message;          // the encoder's text before the result line
  int code;
  bool kept;   // a finished file took the output's place
  Bytes file;  // what it holds, when kept
};

const Bytes kOld = {'o', 'l', 'd', '\n'};

struct Case {
  const char* why;
  std::function<Outcome(const TempDir&)> setup;
};

// Frames 0..4 of 4x4 pixels, red and blue in turn, with frame `odd` replaced
// by what `make_odd` puts at its path.
std::string sequence_with_odd_frame(const TempDir& d, int odd,
                                    const std::function<void(const std::string&)>& make_odd) {
  std::vector<Image> frames;
  for (int k = 0; k < 5; ++k) frames.push_back(Image(4, 4, k % 2 ? kBlue : kRed));
  std::string pattern = write_sequence(d, "f", frames);
  std::string path = d.file("f_" + std::to_string(odd) + ".png");
  std::remove(path.c_str());
  make_odd(path);
  return pattern;
}

// The file of frames red, blue, red (frame 3 failing), then the closing record.
Bytes three_frames_then_closing() {
  return concat({header(0x27, 3, 0, 0), {0x80}, kRedRecord, {0x80}, kBlueRecord, {0x80},
                 kRedRecord, {0x00}});
}

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
      {"1: the output is frame 0; it stays as it was",
       [](const TempDir& d) {
         std::string p = write_sequence(d, "f", {Image(4, 4, kRed)});
         return Outcome{p, d.file("f_0.png"),
                        "Error!Cannot open output file " + d.file("f_0.png") + ".\n", 1, false, {}};
       }},
      {"1: the output is a frame the pattern names, though it does not exist yet",
       [](const TempDir& d) {
         std::string p = write_sequence(d, "f", {Image(4, 4, kRed)});
         return Outcome{p, d.file("f_12.png"),
                        "Error!Cannot open output file " + d.file("f_12.png") + ".\n", 1, false, {}};
       }},
      {"1: the output is frame 0 under another name",
       [](const TempDir& d) {
         std::string p = write_sequence(d, "f", {Image(4, 4, kRed)});
         symlink(d.file("f_0.png").c_str(), d.file("link.velt").c_str());
         return Outcome{p, d.file("link.velt"),
                        "Error!Cannot open output file " + d.file("link.velt") + ".\n", 1, false,
                        {}};
       }},
      {"1: the output is an existing directory",
       [](const TempDir& d) {
         std::string p = write_sequence(d, "f", {Image(4, 4, kRed)});
         return Outcome{p, d.path(), "Error!Cannot open output file " + d.path() + ".\n", 1, false,
                        {}};
       }},
      {"2: frame 0 is missing",
       [](const TempDir& d) {
         return Outcome{d.file("f_X.png"), d.file("out.velt"),
                        "Error!Cannot read frame " + d.file("f_0.png") +
                            ": No such file or directory.\n",
                        2, false, {}};
       }},
      {"2: frame 0 exists but does not decode",
       [](const TempDir& d) {
         write_broken_png(d, "f_0.png");
         return Outcome{d.file("f_X.png"), d.file("out.velt"),
                        "Error!Cannot read frame " + d.file("f_0.png") + ": " +
                            decode_error_text(d.file("f_0.png")) + ".\n",
                        2, false, {}};
       }},
      {"2: the path of frame 0 is 256 bytes long, 257 with its NUL",
       [](const TempDir& d) {
         std::string name = name_for_path_length(d, 256);
         return Outcome{d.file(name), d.file("out.velt"), "Error!Frame path too long.\n", 2, false,
                        {}};
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
                        concat({expected, {0x80}, kRedRecord})};
       }},
      {"2: frame 3 is a directory: the sequence ends with its closing record",
       [](const TempDir& d) {
         std::string p = sequence_with_odd_frame(d, 3, [](const std::string& path) {
           mkdir(path.c_str(), 0755);
         });
         return Outcome{p, d.file("out.velt"),
                        "Error!Cannot read frame " + d.file("f_3.png") + ": not a regular file.\n",
                        2, true, three_frames_then_closing()};
       }},
      {"2: frame 3 is a FIFO, which is never opened for a read that would wait",
       [](const TempDir& d) {
         std::string p = sequence_with_odd_frame(d, 3, [](const std::string& path) {
           mkfifo(path.c_str(), 0600);
         });
         return Outcome{p, d.file("out.velt"),
                        "Error!Cannot read frame " + d.file("f_3.png") + ": not a regular file.\n",
                        2, true, three_frames_then_closing()};
       }},
      {"2: frame 3 is a link to itself",
       [](const TempDir& d) {
         std::string p = sequence_with_odd_frame(d, 3, [](const std::string& path) {
           symlink(path.c_str(), path.c_str());
         });
         return Outcome{p, d.file("out.velt"),
                        "Error!Cannot read frame " + d.file("f_3.png") +
                            ": Too many levels of symbolic links.\n",
                        2, true, three_frames_then_closing()};
       }},
      {"2: frame 0 is a FIFO",
       [](const TempDir& d) {
         std::string p = sequence_with_odd_frame(d, 0, [](const std::string& path) {
           mkfifo(path.c_str(), 0600);
         });
         return Outcome{p, d.file("out.velt"),
                        "Error!Cannot read frame " + d.file("f_0.png") + ": not a regular file.\n",
                        2, false, {}};
       }},
      {"3: frame 0 is 6x4",
       [](const TempDir& d) {
         std::string p = write_sequence(d, "f", {Image(6, 4, kRed)});
         return Outcome{p, d.file("out.velt"),
                        "Error!The width and height must be divisible by 4.\n",
                        3, false, {}};
       }},
      {"3: frame 1 is 30 wide; frame 0's record stays, then the closing record",
       [](const TempDir& d) {
         Image frame0(8, 4, kRed);
         frame0.fill_block(1, 0, kGreen);
         std::string p = write_sequence(d, "f", {frame0, Image(30, 4, kBlue), Image(8, 4, kBlue)});
         return Outcome{p, d.file("out.velt"),
                        "Error!The width and height must be divisible by 4.\n",
                        3, true, concat({header(0x27, 1, 1, 0), {0xC0}, kRedRecord, kGreenRecord, {0x00}})};
       }},
      {"3: frame 1 is 6 high",
       [](const TempDir& d) {
         std::string p = write_sequence(d, "f", {Image(4, 4, kRed), Image(4, 6, kBlue)});
         return Outcome{p, d.file("out.velt"),
                        "Error!The width and height must be divisible by 4.\n",
                        3, true, concat({header(0x27, 1, 0, 0), {0x80}, kRedRecord, {0x00}})};
       }},
      {"4: frame 0 is 1024 wide; the message ends its line",
       [](const TempDir& d) {
         std::string p = write_sequence(d, "f", {Image(1024, 4, kRed)});
         return Outcome{p, d.file("out.velt"), "Image width and height overflow\uFF01\n", 4, false,
                        {}};
       }},
      {"4: frame 0 is 1024 high",
       [](const TempDir& d) {
         std::string p = write_sequence(d, "f", {Image(4, 1024, kRed)});
         return Outcome{p, d.file("out.velt"), "Image width and height overflow\uFF01\n", 4, false,
                        {}};
       }},
      {"5: frame 1 is 8x8 after a 4x4 frame 0; frame 0, then the closing record",
       [](const TempDir& d) {
         std::string p = write_sequence(d, "f", {Image(4, 4, kRed), Image(8, 8, kBlue)});
         return Outcome{p, d.file("out.velt"), "Error!Frame 1 is 8x8, but frame 0 is 4x4.\n", 5,
                        true, concat({header(0x27, 1, 0, 0), {0x80}, kRedRecord, {0x00}})};
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
    struct stat st;
    const bool directory = stat(want.output.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    const bool had_old = !file_exists(want.output) && write_if_possible(want.output, kOld);
    const Bytes before = directory ? Bytes{} : read_file(want.output);
    RunResult r = run_encode({want.pattern, want.output, "20"});
    EXPECT_EQ(r.out, banner(want.pattern, want.output, 20) + want.message + failure_line(want.code));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_status, want.code);
    if (want.kept) {
      EXPECT_TRUE(same_bytes(read_file(want.output), want.file));
    } else if (!directory) {
      EXPECT_TRUE(same_bytes(read_file(want.output), had_old ? kOld : before)) << "changed";
    }
    EXPECT_EQ(temporary_files(dir.path()), 0) << "a temporary file stayed";
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
// result, not get lost in a buffer, however small the file.
TEST(Failures, OutputThatCannotBeWrittenGivesCode6) {
  for (unsigned side : {4u, 512u}) {
    SCOPED_TRACE(side);
    TempDir dir;
    std::string pattern = write_sequence(dir, "f", {Image(side, side, kRed)});
    RunResult r = run_encode({pattern, "/dev/full", "20"});
    EXPECT_EQ(r.exit_status, 6);
    EXPECT_EQ(r.out, banner(pattern, "/dev/full", 20) + "Error!Failed to write /dev/full.\n" +
                         failure_line(6));
  }
}

}  // namespace
}  // namespace e2e
