// A one-line progress bar on a terminal: frames done of frames found and the
// time since the start, redrawn in place.
#ifndef VELT_TOOLKIT_PROGRESS_BAR_H
#define VELT_TOOLKIT_PROGRESS_BAR_H

#include <chrono>
#include <cstdio>
#include <string>

// The bar's text for `done` of `total` frames after `elapsed_seconds`, at
// most `width` columns, e.g. "[#####-----]  8/16 frames  0:03".
std::string format_progress_line(int done, int total, long elapsed_seconds, int width);

class ProgressBar {
 public:
  // Draws on `out` only when `enabled`; otherwise every call does nothing.
  ProgressBar(FILE* out, int total, bool enabled);
  // Redraws when the count or the shown time has changed.
  void update(int done);
  // Draws the last state and ends the line; later calls do nothing.
  void finish();

 private:
  void draw();

  FILE* out_;
  int total_;
  bool enabled_;
  bool finished_ = false;
  int done_ = 0;
  long shown_seconds_ = -1;
  int shown_done_ = -1;
  std::chrono::steady_clock::time_point start_;
};

#endif
