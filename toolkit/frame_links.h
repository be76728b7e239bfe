// A private temporary directory of symbolic links 0.png, 1.png, ... to a
// list of frame files, so that frames of any name reach the encoder module
// under an 'X' pattern it can expand. The links and the directory are
// removed when the object goes, and also when SIGINT, SIGTERM or SIGHUP ends
// the program while it exists (through interrupt_cleanup.h, whose handler
// then exits with status 128 + the signal's number).
#ifndef VELT_TOOLKIT_FRAME_LINKS_H
#define VELT_TOOLKIT_FRAME_LINKS_H

#include <string>
#include <vector>

class FrameLinks {
 public:
  FrameLinks() = default;
  ~FrameLinks();
  FrameLinks(const FrameLinks&) = delete;
  FrameLinks& operator=(const FrameLinks&) = delete;

  // Makes the directory (under $TMPDIR when that is short and free of 'X',
  // else /tmp) and one link per frame, in order. Returns false with `error`
  // set, having removed whatever it made, when that fails.
  bool create(const std::vector<std::string>& frames, std::string* error);

  // The 'X' pattern that names the links; empty before create().
  const std::string& pattern() const { return pattern_; }
  const std::string& directory() const { return directory_; }
  // The frame file behind a link path, or "" when `path` is not one.
  std::string source_of(const std::string& path) const;

  // Removes the links and the directory now.
  void remove();

 private:
  std::string directory_;
  std::string pattern_;
  std::vector<std::string> links_;
  std::vector<std::string> sources_;
};

#endif
