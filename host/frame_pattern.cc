#include "frame_pattern.h"

namespace {

constexpr size_t MAX_DIGITS = 10;  // of a 32-bit frame number

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string expand_x_pattern(const std::string& pattern, int64_t number) {
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

int64_t frame_number_of(const std::string& pattern, const std::string& path) {
  size_t first_x = pattern.find('X');
  if (first_x == std::string::npos) return pattern == path ? 0 : -1;
  if (path.compare(0, first_x, pattern, 0, first_x) != 0) return -1;
  // the first 'X' stands for a run of digits without leading zeros; try each
  // length, since a digit may follow the 'X' in the pattern
  for (size_t length = 1; length <= MAX_DIGITS && first_x + length <= path.size(); ++length) {
    if (!is_digit(path[first_x + length - 1])) break;
    if (length > 1 && path[first_x] == '0') break;
    int64_t number = std::stoll(path.substr(first_x, length));
    if (number > INT32_MAX) break;
    if (expand_x_pattern(pattern, number) == path) return number;
  }
  return -1;
}
