// The real sequences (tools/real_frames.sh) as the tests take them: each one
// encodes and velt compare measures every frame of the file against it, and
// the sprite carries the transparency that the alpha modes are tested on.
#include <cstdlib>

#include "e2e_support.h"
#include "velt_program.h"

extern "C" {
#include "lodepng.h"
}

namespace {

using toolkit_test::run_velt;

class RealSequences : public e2e::RealSequenceTest {};

TEST_F(RealSequences, EachEncodesAndVeltCompareMeasuresEveryFrame) {
  for (const e2e::RealSequence& sequence : sequences_) {
    SCOPED_TRACE(sequence.name);
    e2e::TempDir dir;
    const std::string file = dir.file("real.velt");
    e2e::RunResult run =
        run_velt({"encode", sequence.pattern(), file, "--jobs", "1", "--quiet"});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    run = run_velt({"compare", file, sequence.pattern(), "--json"});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    const std::string last = "{\"frame\": " + std::to_string(sequence.frames - 1) + ", \"rgb";
    const std::string past = "{\"frame\": " + std::to_string(sequence.frames) + ", \"rgb";
    EXPECT_NE(run.out.find(last), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(past), std::string::npos) << run.out;
  }
}

// A cut that lost the alpha channel would leave the alpha modes untested.
TEST_F(RealSequences, TheSpriteHasTransparentAndHalfTransparentPixels) {
  const e2e::RealSequence& sprite = sequences_[2];
  ASSERT_EQ(sprite.name, "sprite");
  unsigned char* rgba = nullptr;
  unsigned width = 0, height = 0;
  ASSERT_EQ(lodepng_decode32_file(&rgba, &width, &height, sprite.frame(0).c_str()), 0u);
  size_t transparent = 0, partial = 0;
  for (size_t i = 3; i < size_t{width} * height * 4; i += 4) {
    transparent += rgba[i] == 0;
    partial += rgba[i] > 0 && rgba[i] < 255;
  }
  free(rgba);
  EXPECT_GT(transparent, 0u);
  EXPECT_GT(partial, 0u);
}

}  // namespace
