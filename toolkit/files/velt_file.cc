#include "velt_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "block_mode_names.h"

namespace {

constexpr size_t READ_CHUNK = size_t{1} << 16;

// Reads `fd` to its end into `bytes`. The buffer grows only as bytes arrive,
// so neither the size the file claims nor a file that shrinks or grows while
// it is read decides more than what was read. Returns 0 or the errno.
int read_to_end(int fd, std::vector<uint8_t>* bytes) {
  size_t used = 0;
  for (;;) {
    if (bytes->size() - used < READ_CHUNK)
      bytes->resize(std::max(bytes->size() * 2, used + READ_CHUNK));
    ssize_t n = read(fd, bytes->data() + used, bytes->size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  bytes->resize(used);
  return 0;
}

}  // namespace

bool VeltFile::open(const std::string& path, BlockMode mode, std::string* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = path + ": not a regular file";
    ::close(fd);
    return false;
  }
  device_ = st.st_dev;
  inode_ = st.st_ino;
  int read_error = read_to_end(fd, &bytes_);
  ::close(fd);
  if (read_error != 0) {
    *error = path + ": " + std::strerror(read_error);
    return false;
  }

  ReadError fault;
  if (!read_velt_layout(data(), size(), mode, &layout_, &fault)) {
    *error = path + ": " + fault.reason + " at offset " + std::to_string(fault.offset);
    return false;
  }
  return true;
}

bool VeltFile::names_this_file(const std::string& path) const {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_;
}

int reading_mode_option(const ParsedArguments& parsed, const std::string& command,
                        bool record_size_too, BlockMode* mode) {
  *mode = MODE_ALPHA;
  if (parsed.has("mode") && record_size_too && parsed.has("record-size"))
    return report_usage_error(command, "give --mode or --record-size, not both");
  if (parsed.has("mode")) {
    std::optional<BlockMode> named = block_mode_from_name(parsed.value_or("mode", ""));
    if (!named)
      return report_usage_error(command, "unknown mode '" + parsed.value_or("mode", "") +
                                             "': use opaque, alpha, opaque12 or alpha12");
    *mode = *named;
  }
  if (record_size_too && parsed.has("record-size")) {
    std::string size = parsed.value_or("record-size", "");
    if (size != "8" && size != "12")
      return report_usage_error(command, "--record-size is 8 or 12, not '" + size + "'");
    *mode = size == "12" ? MODE_ALPHA12 : MODE_ALPHA;
  }
  return EXIT_OK;
}

std::optional<int> open_file_argument(const ParsedArguments& parsed, const std::string& command,
                                      bool record_size_too, VeltFile* file) {
  BlockMode mode;
  if (int status = reading_mode_option(parsed, command, record_size_too, &mode); status != EXIT_OK)
    return status;
  std::string error;
  if (!file->open(parsed.positional[0], mode, &error)) return report_failure(error);
  return std::nullopt;
}
