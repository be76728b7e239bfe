// An output file that appears whole or not at all: it is written under a
// temporary name in its own directory and renamed over its path only when
// committed. Until then an existing file of that name stays as it was, also
// when the run fails, traps or is interrupted (SIGINT, SIGTERM, SIGHUP).
#ifndef VELT_ATOMIC_FILE_H
#define VELT_ATOMIC_FILE_H

#include <cstddef>
#include <string>

class AtomicFile {
 public:
  AtomicFile() = default;
  // Discards the file unless it was committed.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Prepares to write `path`. The temporary file is created exclusively with
  // the permissions a plain create would give: an existing file's mode (and,
  // where allowed, owner), else 0666 less the umask. A symbolic link is
  // followed, so its target is what gets replaced. An existing directory is
  // refused; any other existing file that is not a regular one (a device, a
  // FIFO) is written in place, since there is nothing to keep. Returns false
  // with `error` set to the system's reason, and errno to its number.
  bool open(const std::string& path, std::string* error);

  // The descriptor to write to, open for writing; -1 before open().
  int fd() const { return fd_; }
  // True when the file is written in place rather than renamed.
  bool in_place() const { return in_place_; }

  // Writes the file to disk, closes it and renames it into place. Returns
  // false with `error` set (and the temporary file removed) on failure.
  bool commit(std::string* error);
  // Closes and removes the temporary file; the path keeps what it had.
  void discard();

 private:
  std::string destination_;
  std::string temporary_;
  int fd_ = -1;
  bool in_place_ = false;
};

// Opens an unnamed read-write file beside `path` (in its directory, on the
// same file system), or in TMPDIR (/tmp) where that cannot be: it has no name
// to leave behind, however the process ends. Returns the descriptor, or -1
// with `error` set to the system's reason.
int open_unnamed_file_beside(const std::string& path, std::string* error);

// Writes all `size` bytes to `fd`, going on after short and interrupted
// writes. False on a failure, with errno set (EIO when the system wrote nothing).
bool write_all(int fd, const void* bytes, size_t size);

#endif
