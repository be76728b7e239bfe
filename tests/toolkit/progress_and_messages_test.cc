#include <gtest/gtest.h>

#include "encoder_failure.h"
#include "progress_bar.h"

namespace {

TEST(ProgressLine, ShowsDoneOfFoundAndElapsedTime) {
  struct Case {
    int done, total;
    long seconds;
    const char* line;
  };
  const Case cases[] = {
      {0, 4, 0, "[----------]  0/4 frames  0:00"},
      {2, 4, 75, "[#####-----]  2/4 frames  1:15"},
      {4, 4, 3600, "[##########]  4/4 frames  60:00"},
      {7, 4, 1, "[##########]  4/4 frames  0:01"},     // never past the total
      {3, 12, 9, "[##--------]   3/12 frames  0:09"},  // padded to the total's width
  };
  for (const Case& c : cases) {
    int width = static_cast<int>(std::string(c.line).size());
    EXPECT_EQ(format_progress_line(c.done, c.total, c.seconds, width), c.line);
  }
}

TEST(ProgressLine, KeepsItsLengthAsTheCountGrows) {
  for (int done = 0; done <= 120; ++done)
    EXPECT_EQ(format_progress_line(done, 120, 5, 60).size(), 60u) << done;
}

// What velt encode says for each way a run can fail, from the run's outcome.
TEST(EncoderFailure, EachCodeNamesTheFileAndTheReason) {
  auto frame_path = [](int32_t n) { return "shots/frame" + std::to_string(n + 1) + ".png"; };
  struct Case {
    uint32_t result;
    int32_t failing_frame;
    std::string reason, output_error;
    const char* message;
  };
  const Case cases[] = {
      {1, -1, "", "it is a directory", "cannot open output file o.velt: it is a directory"},
      {2, 3, "Permission denied", "", "cannot read frame shots/frame4.png: Permission denied"},
      {3, 1, "30x4", "", "the width and height must be divisible by 4: shots/frame2.png is 30x4"},
      {4, 0, "1024x4", "",
       "frame shots/frame1.png is 1024x4: the width and height must be below 1024 (after "
       "padding to a multiple of 4); ffmpeg makes it smaller: ffmpeg -i INPUT -vf "
       "\"scale='min(1020,iw)':'min(1020,ih)':force_original_aspect_ratio=decrease\" OUTPUT"},
      {5, 2, "8x8, but frame 0 is 4x4", "", "frame shots/frame3.png is 8x8, but frame 0 is 4x4"},
      {6, -1, "", "", "failed to write o.velt"},
      {6, -1, "", "No space left on device", "failed to write o.velt: No space left on device"},
      {7, 9, "invalid CRC", "", "cannot decode frame shots/frame10.png: invalid CRC"},
      {8, 65535, "", "", "too many frames: frame 65535 and later were not encoded"},
      {11, 0, "70000 frames held at 20 fps, more than 65535", "",
       "too many frames: shots/frame1.png is 70000 frames held at 20 fps, more than 65535 (a "
       "lower --fps holds it in fewer frames)"},
  };
  for (const Case& c : cases) {
    EncodingOutcome outcome;
    outcome.result = c.result;
    outcome.report.failing_frame = c.failing_frame;
    outcome.report.reason = c.reason;
    outcome.output_error = c.output_error;
    EXPECT_EQ(encoder_failure_message(outcome, "o.velt", frame_path), c.message);
  }
}

}  // namespace
