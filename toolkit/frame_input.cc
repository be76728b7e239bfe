#include "frame_input.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>

namespace {

// The first frame number a printf pattern may start at, as tools that take
// such patterns look for it: the first of 0..4 that exists.
constexpr int32_t LAST_FIRST_NUMBER = 4;

bool is_regular_file(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
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

// Frames `first`, first + 1, ... of `path_of` while they exist, at most
// MAX_INPUT_FRAMES in all.
template <typename PathOf>
std::vector<std::string> consecutive_frames(int32_t first, PathOf path_of) {
  std::vector<std::string> frames;
  for (int32_t n = first; frames.size() < size_t{MAX_INPUT_FRAMES}; ++n) {
    std::string path = path_of(n);
    if (!is_regular_file(path)) break;
    frames.push_back(path);
  }
  return frames;
}

bool resolve_directory(const std::string& input, FrameInput* resolved, std::string* error) {
  DIR* dir = opendir(input.c_str());
  if (dir == nullptr) {
    *error = input + ": cannot read the directory";
    return false;
  }
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name[0] == '.' || !has_png_extension(name)) continue;
    std::string path = input + (input.back() == '/' ? "" : "/") + name;
    if (is_regular_file(path)) names.push_back(name);
  }
  closedir(dir);
  if (names.empty()) {
    *error = input + ": no PNG files in the directory";
    return false;
  }
  if (names.size() > size_t{MAX_INPUT_FRAMES}) {
    *error = input + ": " + std::to_string(names.size()) + " PNG files, more than the " +
             std::to_string(MAX_INPUT_FRAMES) + " frames a VELT file holds";
    return false;
  }
  std::sort(names.begin(), names.end(), natural_less);
  resolved->kind = FrameInputKind::DIRECTORY;
  resolved->frames.clear();
  for (const std::string& name : names)
    resolved->frames.push_back(input + (input.back() == '/' ? "" : "/") + name);
  return true;
}

}  // namespace

std::string expand_x_pattern(const std::string& pattern, int32_t number) {
  std::string digits = std::to_string(number);
  std::string path;
  for (char c : pattern) {
    if (c == 'X') {
      path += digits;
    } else {
      path += c;
    }
  }
  return path;
}

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

bool resolve_frame_input(const std::string& input, FrameInput* resolved, std::string* error) {
  error->clear();
  if (input.empty()) {
    *error = "the input is empty";
    return false;
  }
  if (is_directory(input)) return resolve_directory(input, resolved, error);

  PrintfPattern pattern;
  if (parse_printf_pattern(input, &pattern, error)) {
    for (int32_t first = 0; first <= LAST_FIRST_NUMBER; ++first) {
      if (!is_regular_file(format_printf_pattern(pattern, first))) continue;
      resolved->kind = FrameInputKind::PRINTF_PATTERN;
      resolved->frames =
          consecutive_frames(first, [&](int32_t n) { return format_printf_pattern(pattern, n); });
      return true;
    }
    *error = input + ": no frame numbered 0 to " + std::to_string(LAST_FIRST_NUMBER);
    return false;
  }
  if (!error->empty()) return false;

  resolved->kind = FrameInputKind::X_PATTERN;
  bool numbered = input.find('X') != std::string::npos;
  if (!numbered) {
    resolved->frames.clear();
    if (is_regular_file(input)) resolved->frames.push_back(input);
  } else {
    resolved->frames = consecutive_frames(0, [&](int32_t n) { return expand_x_pattern(input, n); });
  }
  if (resolved->frames.empty()) {
    *error =
        numbered ? expand_x_pattern(input, 0) + ": no such frame file" : input + ": no such file";
    return false;
  }
  return true;
}
