// A VELT file opened for reading: its bytes read into memory, its whole
// layout checked, and the reading mode chosen from the command line.
#ifndef VELT_TOOLKIT_VELT_FILE_H
#define VELT_TOOLKIT_VELT_FILE_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "velt_reader.h"

class VeltFile {
 public:
  VeltFile() = default;
  VeltFile(const VeltFile&) = delete;
  VeltFile& operator=(const VeltFile&) = delete;

  // Reads `path` whole and checks it with read_velt_layout in `mode` (used
  // only when the header marks non-zero flags). Returns false with a one-line
  // `error` ("PATH: REASON at offset N", or why the file cannot be read).
  bool open(const std::string& path, BlockMode mode, std::string* error);

  const uint8_t* data() const { return bytes_.empty() ? kNoBytes : bytes_.data(); }
  size_t size() const { return bytes_.size(); }
  const VeltLayout& layout() const { return layout_; }
  // True when `path` names the file that was opened (the same device and
  // inode, whatever the spelling or links on the way).
  bool names_this_file(const std::string& path) const;

 private:
  // where an empty file's bytes "are": nothing is read from an empty file
  static constexpr uint8_t kNoBytes[1] = {0};

  std::vector<uint8_t> bytes_;
  VeltLayout layout_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

// The mode for a file whose header marks non-zero flags: from --mode, or from
// --record-size when `record_size_too` (8 reads as alpha, 12 as alpha12);
// alpha when neither is given, since it is the one mode of 8-byte records
// that marks the header. Returns EXIT_OK, or a usage error status after
// reporting it for `command`.
int reading_mode_option(const ParsedArguments& parsed, const std::string& command,
                        bool record_size_too, BlockMode* mode);

// Opens a reading command's first argument in the mode its options give.
// Returns the exit status when the command cannot go on (after reporting
// why), or nothing when `file` is open and checked.
std::optional<int> open_file_argument(const ParsedArguments& parsed, const std::string& command,
                                      bool record_size_too, VeltFile* file);

#endif
