#include "velt_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "block_mode_names.h"

namespace {

// Where an empty file's bytes "are": nothing is read from an empty file.
const uint8_t kNoBytes[1] = {0};

}  // namespace

VeltFile::~VeltFile() {
  if (mapping_ != nullptr) munmap(mapping_, size_);
}

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
  size_ = static_cast<size_t>(st.st_size);
  // mapped, not copied: a file's size alone never decides an allocation
  if (size_ > 0) {
    mapping_ = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapping_ == MAP_FAILED) {
      mapping_ = nullptr;
      *error = path + ": cannot map the file: " + std::strerror(errno);
      ::close(fd);
      return false;
    }
    data_ = static_cast<const uint8_t*>(mapping_);
  } else {
    data_ = kNoBytes;
  }
  ::close(fd);

  ReadError fault;
  if (!read_velt_layout(data_, size_, mode, &layout_, &fault)) {
    *error = path + ": " + fault.reason + " at offset " + std::to_string(fault.offset);
    return false;
  }
  return true;
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
