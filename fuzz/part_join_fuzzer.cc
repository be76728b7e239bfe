// libFuzzer target for velt join: the input is cut before every "VELTPART"
// magic into part files, which are read and joined. Whatever the bytes, a
// refusal is one line; an accepted join writes the header and exactly the
// records of the parts it used.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "part_join.h"

namespace {

int memory_file(const uint8_t* data, size_t size) {
  int fd = memfd_create("part", MFD_CLOEXEC);
  if (fd < 0 || (size > 0 && write(fd, data, size) != ssize_t(size))) abort();
  return fd;
}

bool one_line(const std::string& text) { return !text.empty() && text.find('\n') == std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<int> fds;
  size_t start = 0;
  for (size_t at = 1; at + VELT_PART_MAGIC_SIZE <= size; ++at) {
    if (std::memcmp(data + at, VELT_PART_MAGIC, VELT_PART_MAGIC_SIZE) != 0) continue;
    fds.push_back(memory_file(data + start, at - start));
    start = at;
  }
  fds.push_back(memory_file(data + start, size - start));

  std::vector<PartInfo> parts;
  for (size_t i = 0; i < fds.size(); ++i) {
    PartInfo part;
    std::string error;
    if (read_part_header(fds[i], "part" + std::to_string(i), &part, &error)) {
      parts.push_back(part);
    } else if (!one_line(error)) {
      abort();
    }
  }
  if (!parts.empty()) {
    int out = memory_file(nullptr, 0);
    JoinResult joined;
    std::string error;
    if (join_parts(parts, out, &joined, &error)) {
      uint64_t expected = VELT_HEADER_SIZE;
      // the join put the parts in frame order, the one that ends the file last
      for (const PartInfo& part : parts) {
        expected += part.payload_size;
        if (&part == joined.last) break;
      }
      struct stat st;
      if (fstat(out, &st) != 0 || uint64_t(st.st_size) != expected || !joined.last->closing ||
          joined.frame_count != joined.last->end)
        abort();
    } else if (!one_line(error)) {
      abort();
    }
    close(out);
  }
  for (int fd : fds) close(fd);
  return 0;
}
