// velt encode --tolerance: the bound it keeps on every shown pixel of every
// frame, over two passes of the loop, in every mode; the same bytes for any
// --jobs and for joined parts; exact bytes at 0.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "velt_program.h"
#include "velt_reader.h"

extern "C" {
#include "lodepng.h"
}

namespace {

using e2e::Bytes;
using e2e::Image;
using e2e::TempDir;
using toolkit_test::run_velt;

const char* const kModes[] = {"opaque", "alpha", "opaque12", "alpha12"};

// A sequence that a tolerance has to get right: a slow fade of one level a
// frame (what comparing with the previous frame would let drift away),
// noise of a few levels, translucent pixels whose alpha ramps too, and a
// block that moves. Long enough for a refresh frame and a part after it.
std::string write_drifting_sequence(const TempDir& dir, int frames) {
  std::vector<Image> images;
  uint32_t seed = 12345;
  for (int f = 0; f < frames; ++f) {
    Image image(32, 16, e2e::kBlack);
    for (unsigned y = 0; y < 16; ++y)
      for (unsigned x = 0; x < 32; ++x) {
        seed = seed * 1103515245u + 12345u;
        int noise = int(seed >> 16) % 5 - 2;
        uint8_t level = uint8_t(std::clamp(40 + f + int(x * 4) + noise, 0, 255));
        uint8_t alpha = uint8_t(y < 8 ? 255 : std::clamp(60 + 2 * f + int(x * 3), 0, 255));
        image.set(x, y, {level, uint8_t(255 - level), uint8_t(x * 8), alpha});
      }
    image.fill_block(unsigned(f / 4) % 8, 0, e2e::kWhite);
    images.push_back(image);
  }
  return e2e::write_sequence(dir, "d", images);
}

std::vector<uint8_t> decode_png(const std::string& path, unsigned* width, unsigned* height) {
  unsigned char* pixels = nullptr;
  EXPECT_EQ(lodepng_decode32_file(&pixels, width, height, path.c_str()), 0u) << path;
  std::vector<uint8_t> rgba(pixels, pixels + size_t(*width) * *height * 4);
  std::free(pixels);
  return rgba;
}

// A pixel channel as a viewer sees it, in 1/255 of a level: over black and
// over white. The opaque modes show no alpha of the source.
struct Shown {
  int over_black, over_white;
};
Shown shown(const uint8_t* pixel, int channel, bool source_alpha) {
  int a = source_alpha ? pixel[3] : 255;
  int c = pixel[channel];
  return {c * a, c * a + 255 * (255 - a)};
}
int apart(Shown a, Shown b) {
  return std::max(std::abs(a.over_black - b.over_black), std::abs(a.over_white - b.over_white));
}

// Plays the file twice through (records 0 .. N, then 1 .. N - 1 again) and
// checks every shown pixel against its frame's source: it may be no further
// from it than from the source its block's record was made from, plus the
// tolerance. Returns the first pixel that breaks the bound, or "".
std::string first_pixel_out_of_bound(const Bytes& file, BlockMode mode,
                                     const std::vector<std::vector<uint8_t>>& sources,
                                     int tolerance) {
  VeltLayout layout;
  ReadError error;
  if (!read_velt_layout(file.data(), file.size(), mode, &layout, &error)) return error.reason;
  const int width = layout.header.width, blocks_across = layout.header.blocks_across;
  const size_t n = sources.size();
  const bool alpha = mode == MODE_ALPHA || mode == MODE_ALPHA12;
  std::vector<size_t> made_from(size_t(blocks_across) * layout.header.blocks_down, 0);
  std::vector<uint8_t> picture;
  std::vector<size_t> order;
  for (size_t k = 0; k <= n; ++k) order.push_back(k);
  for (size_t k = 1; k < n; ++k) order.push_back(k);
  for (size_t step = 0; step < order.size(); ++step) {
    const size_t record = order[step], frame = record == n ? 0 : record;
    apply_frame_record(file.data(), layout, record, &picture);
    const uint8_t* map = file.data() + layout.records[record].offset;
    for (size_t b = 0; b < made_from.size(); ++b)
      if (map[b / 8] & (0x80 >> (b % 8))) made_from[b] = frame;
    for (int y = 0; y < layout.header.height; ++y)
      for (int x = 0; x < width; ++x) {
        const size_t at = (size_t(y) * width + x) * 4;
        const uint8_t* ref = &sources[made_from[size_t(y / 4) * blocks_across + x / 4]][at];
        for (int c = 0; c < 3; ++c) {
          Shown now = shown(&picture[at], c, true);
          Shown source = shown(&sources[frame][at], c, alpha);
          if (apart(now, source) > apart(now, shown(ref, c, alpha)) + 255 * tolerance)
            return "record " + std::to_string(record) + " (step " + std::to_string(step) +
                   "), pixel (" + std::to_string(x) + ", " + std::to_string(y) + "), channel " +
                   std::to_string(c);
        }
      }
  }
  return "";
}

struct Sequence {
  std::string name;
  std::string pattern;  // frames with X for the number
  int frames;
};

// The bound on every frame in every mode and tolerance, and the bytes of
// one run for --jobs 2, --jobs 5 and three joined parts.
void check_sequence(const Sequence& sequence, const std::vector<int>& tolerances) {
  std::vector<std::vector<uint8_t>> sources;
  unsigned width = 0, height = 0;
  for (int f = 0; f < sequence.frames; ++f) {
    std::string path = sequence.pattern;
    path.replace(path.rfind('X'), 1, std::to_string(f));
    sources.push_back(decode_png(path, &width, &height));
  }
  TempDir out;
  for (int m = 0; m < 4; ++m)
    for (int tolerance : tolerances) {
      const std::string what = sequence.name + ", mode " + kModes[m] + ", tolerance " +
                               std::to_string(tolerance);
      const std::string one = out.file("one.velt");
      std::vector<std::string> common = {"--mode", kModes[m], "--tolerance",
                                         std::to_string(tolerance), "--quiet"};
      auto encode = [&](const std::string& output, std::vector<std::string> more) {
        std::vector<std::string> args = {"encode", sequence.pattern, output};
        args.insert(args.end(), common.begin(), common.end());
        args.insert(args.end(), more.begin(), more.end());
        e2e::RunResult run = run_velt(args);
        EXPECT_EQ(run.exit_status, 0) << what << ": " << run.err;
        return e2e::read_file(output);
      };
      const Bytes file = encode(one, {"--jobs", "1"});
      EXPECT_EQ(first_pixel_out_of_bound(file, BlockMode(m), sources, tolerance), "") << what;
      EXPECT_TRUE(e2e::same_bytes(encode(out.file("j2.velt"), {"--jobs", "2"}), file)) << what;
      EXPECT_TRUE(e2e::same_bytes(encode(out.file("j5.velt"), {"--jobs", "5"}), file)) << what;
      std::vector<std::string> join = {"join", out.file("joined.velt")};
      for (int k = 2; k >= 0; --k) {
        join.push_back(out.file("part" + std::to_string(k)));
        encode(join.back(), {"--part", std::to_string(k) + "/3"});
      }
      EXPECT_EQ(run_velt(join).exit_status, 0) << what;
      EXPECT_TRUE(e2e::same_bytes(e2e::read_file(out.file("joined.velt")), file)) << what;
      if (tolerance == 0) {
        // exact: what velt-encode-flags writes
        const std::string flags = out.file("flags.velt");
        e2e::run_encode_flags({sequence.pattern, flags, "20", std::to_string(m)});
        EXPECT_TRUE(e2e::same_bytes(file, e2e::read_file(flags))) << what;
      }
    }
}

TEST(Tolerance, KeepsItsBoundOnEveryFrameAndTheBytesOfOneRun) {
  TempDir dir;
  check_sequence({"drifting", write_drifting_sequence(dir, 90), 90}, {0, 1, 4, 12});
  // red levels that RGB565 keeps exactly: the last frame ends 9 below frame
  // 0 and frame 1 is 8 above it, so a closing record that left the last
  // frame shown would put the second pass's frame 1 17 levels off
  std::vector<Image> swing;
  for (uint8_t red : {99, 107, 132, 90}) swing.push_back(Image(8, 8, {red, 0, 0, 255}));
  check_sequence({"swing", e2e::write_sequence(dir, "s", swing), 4}, {9});
}

// The same on real footage, a real screen recording and a sprite with
// every level of alpha.
using RealTolerance = e2e::RealSequenceTest;
TEST_F(RealTolerance, KeepsItsBoundOnEveryFrameAndTheBytesOfOneRun) {
  for (const e2e::RealSequence& real : sequences_)
    check_sequence({real.name, real.pattern(), real.frames}, {2, 8});
}

// A fade of one level a frame is stored about once every N + 1 frames: the
// tolerance saves, yet (above) never lets the fade run away from what is shown.
TEST(Tolerance, StoresASlowFadeOnlyWhenItHasMovedFarEnough) {
  TempDir dir;
  std::vector<Image> fade;
  for (uint8_t f = 0; f < 20; ++f) fade.push_back(Image(8, 8, {uint8_t(100 + f), 100, 100, 255}));
  const std::string pattern = e2e::write_sequence(dir, "fade", fade);
  struct Case {
    int tolerance;
    size_t stored_frames;  // of frames 1 .. 19 and the closing record
  };
  for (const Case& c : {Case{0, 20}, Case{4, 4}, Case{8, 3}}) {
    const std::string file = dir.file("fade.velt");
    ASSERT_EQ(run_velt({"encode", pattern, file, "--tolerance", std::to_string(c.tolerance),
                        "--jobs", "1"})
                  .exit_status,
              0);
    Bytes bytes = e2e::read_file(file);
    VeltLayout layout;
    ReadError error;
    ASSERT_TRUE(read_velt_layout(bytes.data(), bytes.size(), MODE_OPAQUE, &layout, &error));
    size_t stored = 0;
    for (size_t k = 1; k < layout.records.size(); ++k) stored += layout.records[k].changed_blocks != 0;
    EXPECT_EQ(stored, c.stored_frames) << "tolerance " << c.tolerance;
  }
}

}  // namespace
