// libFuzzer target for velt join: the input is cut before every "VELTPART"
// magic into part files, which are checked, planned and joined. Each cut
// that holds a whole header gets the hash it must carry for its bytes first,
// since a fuzzer would never guess one: so the mutations reach the header's
// fields, the chaining of the parts and the read-back of the joined file.
// Whatever the bytes, a refusal is one line; an accepted join writes the
// header and exactly the records of the parts it used.
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

// A part file of `bytes`, its hash set to match them.
int hashed_part(std::vector<uint8_t> bytes) {
  if (bytes.size() >= VELT_PART_HEADER_SIZE) {
    uint64_t payload_hash =
        velt_part_hash(VELT_PART_HASH_START, bytes.data() + VELT_PART_HEADER_SIZE,
                       bytes.size() - VELT_PART_HEADER_SIZE);
    velt_part_put64(bytes.data() + VELT_PART_OFFSET_HASH,
                    velt_part_file_hash(payload_hash, bytes.data()));
  }
  return memory_file(bytes.data(), bytes.size());
}

bool one_line(const std::string& text) { return !text.empty() && text.find('\n') == std::string::npos; }

uint64_t file_size(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) abort();
  return uint64_t(st.st_size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<int> fds;
  size_t start = 0;
  for (size_t at = 1; at + VELT_PART_MAGIC_SIZE <= size; ++at) {
    if (std::memcmp(data + at, VELT_PART_MAGIC, VELT_PART_MAGIC_SIZE) != 0) continue;
    fds.push_back(hashed_part(std::vector<uint8_t>(data + start, data + at)));
    start = at;
  }
  fds.push_back(hashed_part(std::vector<uint8_t>(data + start, data + size)));

  std::vector<PartInfo> parts;
  for (size_t i = 0; i < fds.size(); ++i) {
    PartInfo part;
    std::string error;
    if (check_part({"part" + std::to_string(i), "", fds[i]}, &part, &error)) {
      parts.push_back(part);
    } else if (!one_line(error)) {
      abort();
    }
  }
  JoinPlan plan;
  std::string error;
  const bool planned = !parts.empty() && plan_join(parts, &plan, &error);
  if (!parts.empty() && !planned && !one_line(error)) abort();
  if (planned) {
    int out = memory_file(nullptr, 0);
    bool write_failed = false;
    if (write_join(parts, plan, out, &write_failed, &error)) {
      uint64_t expected = VELT_HEADER_SIZE;
      for (size_t i = 0; i < plan.part_count; ++i) expected += parts[i].payload_size;
      if (file_size(out) != expected || !plan.last->closing || plan.frame_count <= 0 ||
          plan.frame_count != plan.last->end)
        abort();
    } else if (!one_line(error) || write_failed) {
      abort();
    }
    close(out);
  }
  for (int fd : fds) close(fd);
  return 0;
}
