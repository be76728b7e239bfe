#include "frame_input.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace {

// The first frame number a printf pattern may start at, as tools that take
// such patterns look for it: the first of 0..4 that exists.
constexpr int32_t LAST_FIRST_NUMBER = 4;

// What a frame path is to a sequence: a frame, the gap that ends it, or a
// name that exists but cannot be a frame.
enum class FrameLookup { FRAME, MISSING, UNREADABLE };

// Looks `path` up; for UNREADABLE sets `error` to "PATH: reason". Only a name
// that does not exist is missing: a directory, a FIFO, a device, a link that
// leads nowhere or a path the system will not look into is an error, so that
// no frame after it is dropped unnoticed.
FrameLookup look_up_frame(const std::string& path, std::string* error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    int reason = errno;
    if (reason == ENOENT && lstat(path.c_str(), &st) == 0) {
      *error = path + ": a symbolic link to a missing file";
      return FrameLookup::UNREADABLE;
    }
    if (reason == ENOENT || reason == ENOTDIR) return FrameLookup::MISSING;
    *error = path + ": " + std::strerror(reason);
    return FrameLookup::UNREADABLE;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = path + ": not a regular file";
    return FrameLookup::UNREADABLE;
  }
  return FrameLookup::FRAME;
}

std::string too_many_frames(const std::string& input, int32_t max_frames,
                            const std::string& detail) {
  return input + ": more than the " + std::to_string(max_frames) + " frames a VELT file holds (" +
         detail + ")";
}

bool is_directory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool has_png_extension(const std::string& name) {
  if (name.size() < 5) return false;
  std::string tail = name.substr(name.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return tail == ".png";
}

// Frames `first`, first + 1, ... of `path_of` up to the first missing one.
// Returns false with `error` set when one of them exists but cannot be a
// frame, or when more than `max_frames` exist.
template <typename PathOf>
bool consecutive_frames(const std::string& input, int32_t first, int32_t max_frames, PathOf path_of,
                        std::vector<std::string>* frames, std::string* error) {
  frames->clear();
  for (int32_t n = first;; ++n) {
    std::string path = path_of(n);
    FrameLookup found = look_up_frame(path, error);
    if (found == FrameLookup::MISSING) return true;
    if (frames->size() == static_cast<size_t>(max_frames)) {
      *error = too_many_frames(input, max_frames, "frame " + path + " exists");
      return false;
    }
    if (found == FrameLookup::UNREADABLE) return false;
    frames->push_back(path);
  }
}

bool resolve_directory(const std::string& input, int32_t max_frames, FrameInput* resolved,
                       std::string* error) {
  DIR* dir = opendir(input.c_str());
  if (dir == nullptr) {
    *error = input + ": cannot read the directory: " + std::strerror(errno);
    return false;
  }
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name[0] != '.' && has_png_extension(name)) names.push_back(name);
  }
  closedir(dir);
  if (names.empty()) {
    *error = input + ": no PNG files in the directory";
    return false;
  }
  if (names.size() > static_cast<size_t>(max_frames)) {
    *error = too_many_frames(input, max_frames, std::to_string(names.size()) + " PNG files");
    return false;
  }
  std::sort(names.begin(), names.end(), natural_less);
  resolved->kind = FrameInputKind::DIRECTORY;
  resolved->frames.clear();
  for (const std::string& name : names) {
    std::string path = input + (input.back() == '/' ? "" : "/") + name;
    // a listed name that is no frame is refused, not skipped: it was meant as one
    FrameLookup found = look_up_frame(path, error);
    if (found == FrameLookup::MISSING) *error = path + ": " + std::strerror(ENOENT);
    if (found != FrameLookup::FRAME) return false;
    resolved->frames.push_back(path);
  }
  return true;
}

}  // namespace

bool parse_printf_pattern(const std::string& text, PrintfPattern* pattern, std::string* error) {
  std::string parts[2];
  int conversions = 0;
  int width = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      parts[conversions > 0 ? 1 : 0] += text[i];
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '%') {
      parts[conversions > 0 ? 1 : 0] += '%';
      ++i;
      continue;
    }
    // %d or %0Nd
    size_t j = i + 1;
    int digits_width = 0;
    if (j < text.size() && text[j] == '0') {
      ++j;
      size_t start = j;
      while (j < text.size() && is_digit(text[j]) && j - start < 2) {
        digits_width = digits_width * 10 + (text[j] - '0');
        ++j;
      }
      if (j == start) digits_width = -1;  // "%0d" has no width
    }
    if (digits_width < 0 || j >= text.size() || text[j] != 'd') {
      *error = text + ": only %d and %0Nd (N below 100) can stand for the frame number";
      return false;
    }
    if (++conversions > 1) {
      *error = text + ": more than one frame number conversion";
      return false;
    }
    width = digits_width;
    i = j;
  }
  if (conversions == 0) return false;
  *pattern = PrintfPattern{parts[0], width, parts[1]};
  return true;
}

std::string format_printf_pattern(const PrintfPattern& pattern, int32_t number) {
  std::string digits = std::to_string(number);
  if (digits.size() < static_cast<size_t>(pattern.width))
    digits.insert(0, static_cast<size_t>(pattern.width) - digits.size(), '0');
  return pattern.prefix + digits + pattern.suffix;
}

bool natural_less(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (is_digit(a[i]) && is_digit(b[j])) {
      size_t a_start = i, b_start = j;
      while (i < a.size() && is_digit(a[i])) ++i;
      while (j < b.size() && is_digit(b[j])) ++j;
      // compare the runs as numbers: without leading zeros, shorter is smaller
      size_t a_lead = a_start, b_lead = b_start;
      while (a_lead + 1 < i && a[a_lead] == '0') ++a_lead;
      while (b_lead + 1 < j && b[b_lead] == '0') ++b_lead;
      size_t a_len = i - a_lead, b_len = j - b_lead;
      if (a_len != b_len) return a_len < b_len;
      int order = a.compare(a_lead, a_len, b, b_lead, b_len);
      if (order != 0) return order < 0;
      continue;
    }
    if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    ++i;
    ++j;
  }
  // one runs out first: the shorter name comes first
  if (i == a.size() && j < b.size()) return true;
  if (j == b.size() && i < a.size()) return false;
  // equal as numbers ("frame02" and "frame2"): byte order keeps the sort total
  return a < b;
}

bool resolve_frame_input(const std::string& input, FrameInput* resolved, std::string* error,
                         int32_t max_frames) {
  error->clear();
  if (input.empty()) {
    *error = "the input is empty";
    return false;
  }
  if (is_directory(input)) return resolve_directory(input, max_frames, resolved, error);

  PrintfPattern pattern;
  if (parse_printf_pattern(input, &pattern, error)) {
    resolved->kind = FrameInputKind::PRINTF_PATTERN;
    auto path_of = [&](int32_t n) { return format_printf_pattern(pattern, n); };
    for (int32_t first = 0; first <= LAST_FIRST_NUMBER; ++first) {
      if (look_up_frame(path_of(first), error) == FrameLookup::MISSING) continue;
      return consecutive_frames(input, first, max_frames, path_of, &resolved->frames, error);
    }
    *error = input + ": no frame numbered 0 to " + std::to_string(LAST_FIRST_NUMBER);
    return false;
  }
  if (!error->empty()) return false;

  resolved->kind = FrameInputKind::X_PATTERN;
  resolved->frames.clear();
  std::string single_error;
  const FrameLookup single = look_up_frame(input, &single_error);
  if (input.find('X') == std::string::npos) {
    if (single == FrameLookup::MISSING) single_error = input + ": no such file";
    if (single != FrameLookup::FRAME) {
      *error = single_error;
      return false;
    }
    resolved->kind = FrameInputKind::SINGLE_FILE;
    resolved->frames.push_back(input);
    return true;
  }
  auto path_of = [&](int32_t n) { return expand_x_pattern(input, n); };
  if (!consecutive_frames(input, 0, max_frames, path_of, &resolved->frames, error)) return false;
  if (resolved->frames.empty() && single == FrameLookup::FRAME) {
    // a file whose own name holds an X (Xmas.gif), and no frames of it as a pattern
    resolved->kind = FrameInputKind::SINGLE_FILE;
    resolved->frames.push_back(input);
    return true;
  }
  if (resolved->frames.empty()) {
    *error = path_of(0) + ": no such frame file";
    // a directory made by mktemp can hold an X, which is read as the number too
    size_t slash = input.rfind('/');
    if (slash != std::string::npos && input.find('X') < slash) {
      *error += " (every upper-case X in " + input +
                " stands for the frame number, also those of its directory";
      std::string name = input.substr(slash + 1);
      size_t x = name.find('X');
      if (x != std::string::npos && name.find('X', x + 1) == std::string::npos) {
        std::string directory;
        for (char c : input.substr(0, slash + 1)) directory += c == '%' ? "%%" : std::string(1, c);
        *error += "; " + directory + name.replace(x, 1, "%d") +
                  " names the frame number with %d and takes the directory as it is";
      }
      *error += ")";
    }
    return false;
  }
  return true;
}
