#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "interrupt_cleanup.h"

namespace {

constexpr int MAX_NAME_ATTEMPTS = 100;

// The real path of what `path` names after following symbolic links; `path`
// itself when it is no link or the link leads nowhere yet.
std::string followed(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return path;
  return resolved;
}

std::string directory_of(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string name_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

AtomicFile::~AtomicFile() { discard(); }

bool AtomicFile::open(const std::string& path, std::string* error) {
  discard();
  destination_ = followed(path);
  struct stat existing;
  bool exists = stat(destination_.c_str(), &existing) == 0;
  if (!exists && errno != ENOENT) {
    *error = std::strerror(errno);
    return false;
  }
  if (exists && S_ISDIR(existing.st_mode)) {
    errno = EISDIR;
    *error = std::strerror(errno);
    return false;
  }
  if (exists && !S_ISREG(existing.st_mode)) {
    fd_ = ::open(destination_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd_ < 0) {
      *error = std::strerror(errno);
      return false;
    }
    in_place_ = true;
    return true;
  }

  static unsigned counter = 0;
  const std::string stem =
      directory_of(destination_) + "/." + name_of(destination_) + "." + std::to_string(getpid());
  for (int attempt = 0; attempt < MAX_NAME_ATTEMPTS; ++attempt) {
    std::string candidate = stem + "." + std::to_string(counter++) + ".tmp";
    // registered first, so that no signal can come between the create and the registration
    if (!remove_on_interrupt(candidate.c_str())) {
      errno = ENAMETOOLONG;
      *error = "too many temporary files, or a path too long";
      return false;
    }
    mode_t mode = exists ? (existing.st_mode & 07777) : 0666;
    int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
      int open_error = errno;
      keep_on_interrupt(candidate.c_str());
      if (open_error == EEXIST) continue;
      errno = open_error;
      *error = std::strerror(open_error);
      return false;
    }
    if (exists) {
      // the umask does not apply to a file that is replaced: it keeps its mode
      // and, where this process may give it, its owner
      (void)fchown(fd, existing.st_uid, existing.st_gid);
      fchmod(fd, existing.st_mode & 07777);
    }
    fd_ = fd;
    temporary_ = candidate;
    return true;
  }
  errno = EEXIST;
  *error = "no free temporary name beside the file";
  return false;
}

bool AtomicFile::commit(std::string* error) {
  if (fd_ < 0) {
    *error = "the file is not open";
    return false;
  }
  if (in_place_) {
    int closed = ::close(fd_);
    fd_ = -1;
    in_place_ = false;
    if (closed != 0) {
      *error = std::strerror(errno);
      return false;
    }
    return true;
  }
  bool written = fsync(fd_) == 0;
  int sync_error = errno;
  if (::close(fd_) != 0 && written) {
    written = false;
    sync_error = errno;
  }
  fd_ = -1;
  if (!written) {
    *error = std::strerror(sync_error);
    discard();
    return false;
  }
  InterruptsHeld held;
  if (rename(temporary_.c_str(), destination_.c_str()) != 0) {
    *error = std::strerror(errno);
    discard();
    return false;
  }
  keep_on_interrupt(temporary_.c_str());
  temporary_.clear();
  return true;
}

void AtomicFile::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  in_place_ = false;
  if (!temporary_.empty()) {
    InterruptsHeld held;
    unlink(temporary_.c_str());
    keep_on_interrupt(temporary_.c_str());
    temporary_.clear();
  }
}

bool write_all(int fd, const void* bytes, size_t size) {
  const char* at = static_cast<const char*>(bytes);
  while (size > 0) {
    ssize_t put = write(fd, at, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = EIO;
      return false;
    }
    at += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

int open_unnamed_file_beside(const std::string& path, std::string* error) {
  const char* tmpdir = std::getenv("TMPDIR");
  for (const std::string& dir : {directory_of(path), std::string(tmpdir ? tmpdir : "/tmp")}) {
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    // a file system without unnamed files: a name that goes at once
    std::string name = dir + "/.velt-unnamed-XXXXXX";
    InterruptsHeld held;
    fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) {
      unlink(name.c_str());
      return fd;
    }
    *error = std::strerror(errno);
  }
  return -1;
}
