#include "progress_bar.h"

#include <algorithm>

namespace {

// The bar stays narrow enough for an 80-column terminal.
constexpr int LINE_WIDTH = 72;

}  // namespace

std::string format_progress_line(int done, int total, long elapsed_seconds, int width) {
  done = std::clamp(done, 0, std::max(total, 0));
  char tail[64];
  // the count takes the total's width, so the line keeps its length
  int digits = static_cast<int>(std::to_string(total).size());
  std::snprintf(tail, sizeof tail, "  %*d/%d frames  %ld:%02ld", digits, done, total,
                elapsed_seconds / 60, elapsed_seconds % 60);
  int bar = width - 2 - static_cast<int>(std::string(tail).size());
  if (bar < 4) return std::string(tail + 2);
  int filled = total > 0 ? static_cast<int>(static_cast<long long>(bar) * done / total) : 0;
  return "[" + std::string(filled, '#') + std::string(bar - filled, '-') + "]" + tail;
}

ProgressBar::ProgressBar(FILE* out, int total, bool enabled)
    : out_(out), total_(total), enabled_(enabled), start_(std::chrono::steady_clock::now()) {}

void ProgressBar::update(int done) {
  if (!enabled_ || finished_) return;
  done_ = std::max(done_, done);
  draw();
}

void ProgressBar::finish() {
  if (!enabled_ || finished_) return;
  shown_done_ = -1;  // always draw the last state
  draw();
  std::fputc('\n', out_);
  std::fflush(out_);
  finished_ = true;
}

void ProgressBar::draw() {
  long seconds = static_cast<long>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start_)
          .count());
  if (done_ == shown_done_ && seconds == shown_seconds_) return;
  shown_done_ = done_;
  shown_seconds_ = seconds;
  std::fprintf(out_, "\r%s", format_progress_line(done_, total_, seconds, LINE_WIDTH).c_str());
  std::fflush(out_);
}
