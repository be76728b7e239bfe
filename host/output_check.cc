#include "output_check.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>

#include "frame_pattern.h"
#include "velt_format.h"

namespace {

// True when `path` names the file `out` describes.
bool same_file(const struct stat& out, const std::string& path) {
  struct stat in;
  return stat(path.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

}  // namespace

std::string output_conflict(const std::string& pattern, const std::string& output) {
  struct stat out;
  bool exists = stat(output.c_str(), &out) == 0;
  if (exists && S_ISDIR(out.st_mode)) return "it is a directory";
  if (pattern_produces(pattern, output)) return "the input pattern names it";
  if (!exists) return "";
  bool numbered = pattern.find('X') != std::string::npos;
  for (int32_t number = 0; number <= VELT_MAX_FRAME_COUNT; ++number) {
    std::string frame = expand_x_pattern(pattern, number);
    struct stat in;
    if (stat(frame.c_str(), &in) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) break;
      continue;
    }
    if (in.st_dev == out.st_dev && in.st_ino == out.st_ino) return "it is the frame " + frame;
    if (!numbered) break;
  }
  return "";
}

std::string listed_output_conflict(const std::vector<std::string>& frames,
                                   const std::string& output) {
  struct stat out;
  bool exists = stat(output.c_str(), &out) == 0;
  if (exists && S_ISDIR(out.st_mode)) return "it is a directory";
  for (const std::string& frame : frames)
    if (frame == output || (exists && same_file(out, frame))) return "it is the frame " + frame;
  return "";
}
