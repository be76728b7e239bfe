#include <gtest/gtest.h>

#include "encoder_messages.h"
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

void append(EncoderMessages& messages, const std::string& text) {
  messages.append(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(EncoderMessages, FirstMessageBecomesOneLine) {
  auto rename = [](const std::string& word) {
    return word == "/tmp/velt-a/3.png" ? std::string("shots/frame10.png") : std::string();
  };
  struct Case {
    std::string console;
    const char* message;
  };
  const Case cases[] = {
      {"compress_video_wasm\nError!Cannot decode frame /tmp/velt-a/3.png: invalid CRC.\n",
       "cannot decode frame shots/frame10.png: invalid CRC"},
      {"compress_video_wasm\nImage width and height overflow\xEF\xBC\x81",
       "image width and height overflow"},
      {"compress_video_wasm\nError!The width and height must be divisible by 4.\nError!Failed to "
       "write o.\n",
       "the width and height must be divisible by 4"},
      {"compress_video_wasm\n", ""},
  };
  for (const Case& c : cases) {
    EncoderMessages messages;
    append(messages, c.console);
    EXPECT_EQ(messages.first_message(rename), c.message) << c.console;
  }
}

}  // namespace
