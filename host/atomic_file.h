// An output file that appears whole or not at all. It is written into an
// unnamed file in the destination's directory and given its name only when
// committed, so that however the process ends before then (a failure, a trap,
// any signal, SIGKILL too) an existing file of that name stays as it was and
// nothing is left beside it.
#ifndef VELT_ATOMIC_FILE_H
#define VELT_ATOMIC_FILE_H

#include <cstddef>
#include <string>

class AtomicFile {
 public:
  // What becomes of an output that is not a regular file (a FIFO, a pipe, a
  // device), which cannot be replaced.
  enum class NonRegular {
    // written as the run goes: for output written front to back
    WRITE_IN_PLACE,
    // built in an unnamed file and copied out on commit: for output that is
    // sought back and rewritten, and so that a failed run sends nothing
    COPY_ON_COMMIT,
  };

  AtomicFile() = default;
  // Discards the file unless it was committed.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Prepares to write `path`. Symbolic links are followed to the file they
  // lead to, also when it does not exist yet, as a shell's redirection does:
  // that file is what gets written, and the unnamed file is made beside it.
  // It gets the permissions a plain create would give: an existing file's
  // mode (and, where allowed, owner), else 0666 less the umask. An existing
  // directory is refused; any other file that is not a regular one is
  // handled as `non_regular` says. Returns false with `error` set to the
  // system's reason, and errno to its number.
  bool open(const std::string& path, std::string* error,
            NonRegular non_regular = NonRegular::WRITE_IN_PLACE);

  // The descriptor to write to; -1 before open(). Open for reading too,
  // except when it is a device or FIFO written in place.
  int fd() const { return fd_; }

  // The directory where commit() gives the file its name (makes a link to
  // it, and may rename it over the old file), or "" when it needs none: not
  // open, or written to a file that is not a regular one.
  std::string naming_directory() const;

  // Writes the file to disk and gives it its name (or copies it out to the
  // file that is not a regular one), then closes it. Returns false with
  // `error` set on failure; the path then keeps what it had.
  bool commit(std::string* error);
  // Closes and drops the file; the path keeps what it had.
  void discard();

 private:
  bool open_named_temporary(unsigned mode, std::string* error);
  bool give_name(std::string* error);
  bool copy_out(std::string* error);

  std::string destination_;  // the path with its links followed
  int fd_ = -1;
  int copy_to_ = -1;       // the file that is not a regular one, for COPY_ON_COMMIT
  bool in_place_ = false;
  std::string temporary_;  // a named temporary file, where unnamed ones cannot be made
};

// Opens an unnamed read-write file beside `path` (in its directory, on the
// same file system), or in TMPDIR (/tmp) where that cannot be: it has no name
// to leave behind, however the process ends. Returns the descriptor, or -1
// with `error` set to the system's reason.
int open_unnamed_file_beside(const std::string& path, std::string* error);

// Opens an unnamed read-write file (mode 0600) in `directory`, or where the
// file system makes none, a named one whose name is removed at once. Returns
// the descriptor, or -1 with `error` set to the system's reason.
int open_unnamed_file_in(const std::string& directory, std::string* error);

// Writes all `size` bytes to `fd`, going on after short and interrupted
// writes. False on a failure, with errno set (EIO when the system wrote nothing).
bool write_all(int fd, const void* bytes, size_t size);

#endif
