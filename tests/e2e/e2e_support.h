// Helpers for whole runs of the programs: PNG sequences in a fresh temporary
// directory, a child process with its output captured, and file bytes.
#ifndef VELT_E2E_SUPPORT_H
#define VELT_E2E_SUPPORT_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace e2e {

using Bytes = std::vector<uint8_t>;

struct Rgba {
  uint8_t r, g, b, a;
};

// Opaque primary colours and their uniform-block records: the RGB565 colour,
// low byte first, then zeros.
inline const Rgba kRed = {255, 0, 0, 255};
inline const Rgba kGreen = {0, 255, 0, 255};
inline const Rgba kBlue = {0, 0, 255, 255};
inline const Rgba kWhite = {255, 255, 255, 255};
inline const Rgba kBlack = {0, 0, 0, 255};
inline const Bytes kRedRecord = {0x00, 0xF8, 0, 0, 0, 0, 0, 0};
inline const Bytes kGreenRecord = {0xE0, 0x07, 0, 0, 0, 0, 0, 0};
inline const Bytes kBlueRecord = {0x1F, 0x00, 0, 0, 0, 0, 0, 0};
inline const Bytes kWhiteRecord = {0xFF, 0xFF, 0, 0, 0, 0, 0, 0};
inline const Bytes kBlackRecord = {0, 0, 0, 0, 0, 0, 0, 0};

// An 8-bit RGBA picture, rows from the top.
struct Image {
  unsigned width = 0, height = 0;
  Bytes rgba;

  Image(unsigned w, unsigned h, Rgba fill);
  void set(unsigned x, unsigned y, Rgba c);
  // Paints the 4x4 block whose top-left pixel is (4 * bx, 4 * by).
  void fill_block(unsigned bx, unsigned by, Rgba c);
  // Copies 16 pixels (row-major) into that block.
  void put_block(unsigned bx, unsigned by, const Rgba (&pixels)[16]);
};

// A directory made fresh for one test, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes `image` as an 8-bit RGBA PNG; fails the test on an encoder error.
void write_png(const std::string& path, const Image& image);
// Writes frames as <dir>/<stem>_0.png, _1.png, ...; returns the pattern
// <dir>/<stem>_X.png.
std::string write_sequence(const TempDir& dir, const std::string& stem,
                           const std::vector<Image>& frames);
void write_file(const std::string& path, const Bytes& bytes);
// The file's bytes; empty when it cannot be read.
Bytes read_file(const std::string& path);
bool file_exists(const std::string& path);
// True when process `pid` holds an unnamed file (one made without a name to
// leave behind) open in `dir`: the sign that a run has begun its output.
bool holds_unnamed_file_in(pid_t pid, const std::string& dir);
// Waits up to `seconds` for that; false when it never happened.
bool wait_for_unnamed_file(pid_t pid, const std::string& dir, int seconds = 30);

struct RunResult {
  int exit_status = -1;  // -1 when the child ended by a signal
  int signal = 0;
  std::string out, err;
};

// Runs `program` with `args` after it (argv[0] is the program path) and no stdin,
// waits for it and returns what it printed and how it ended.
RunResult run_program(const std::string& program, const std::vector<std::string>& args);
// The same with the soft limit of `resource` in the child set to `value`
// between fork and exec: RLIMIT_AS as `ulimit -v` sets it, RLIMIT_NOFILE,
// RLIMIT_FSIZE.
RunResult run_program_with_limit(const std::string& program, const std::vector<std::string>& args,
                                 int resource, uint64_t value);
// The two programs under test.
RunResult run_encode(const std::vector<std::string>& args);
RunResult run_encode_flags(const std::vector<std::string>& args);

// What velt-encode prints before the encoder's own messages.
std::string banner(const std::string& pattern, const std::string& output, int fps);
extern const char kSuccessLine[];
bool ends_with(const std::string& text, const std::string& tail);
std::string failure_line(int code);

// The 10-byte file header.
Bytes header(uint8_t rate_code, uint16_t frame_count, uint8_t width_code, uint8_t height_code);
Bytes concat(std::initializer_list<Bytes> parts);
Bytes repeat(const Bytes& part, size_t times);

// Compares byte strings, reporting the sizes and the first difference.
::testing::AssertionResult same_bytes(const Bytes& actual, const Bytes& expected);

// A short real sequence that tools/real_frames.sh cuts at set-up time from
// files Debian packages ship: RGBA PNGs <directory>/frame_0.png ...
struct RealSequence {
  std::string name;  // "camera", "screen" or "sprite"
  std::string directory;
  int frames = 0;

  // <directory>/frame_X.png, the pattern the programs take.
  std::string pattern() const { return directory + "/frame_X.png"; }
  std::string frame(int n) const { return directory + "/frame_" + std::to_string(n) + ".png"; }
};

// Where the real sequences are: VELT_REAL_FRAMES_DIR from the environment,
// else the build folder's real-frames/.
std::string real_frames_dir();
// Camera footage (most blocks change a little, a third a lot), a screen
// recording (a monitor dragged, codec noise where nothing moves) and a
// sprite with transparent and half-transparent pixels, in that order, each
// with its frames counted up to the first gap. Empty, with `why` saying what
// is missing, unless all three are there with two frames or more each.
std::vector<RealSequence> find_real_sequences(std::string* why);

// True when VELT_REAL_FRAMES_REQUIRED=1 says the real sequences and
// animations were made for this run (tools/run_tests.sh sets it): a test
// then fails where it would skip without them.
bool real_frames_required();

// The base of a test on the real sequences: it skips when they are missing,
// and fails instead when VELT_REAL_FRAMES_REQUIRED=1 says they were made for
// this run (tools/run_tests.sh sets it).
class RealSequenceTest : public ::testing::Test {
 protected:
  void SetUp() override;
  std::vector<RealSequence> sequences_;
};

}  // namespace e2e

#endif
