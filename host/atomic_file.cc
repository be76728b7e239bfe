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
constexpr int MAX_LINK_HOPS = 40;  // as the kernel allows, before ELOOP
constexpr size_t COPY_CHUNK = 1 << 16;

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

// The file that writing `path` writes. An existing regular file is named by
// its real path, so that the new file is made beside it and replaces it
// rather than the link to it; anything else that exists is opened by the
// path as given (the kernel follows links such as /dev/stdout to a pipe). A
// chain of links that ends at a name not there yet is followed by hand to that
// name, which the file is then created as. False with errno set on a loop.
bool followed(const std::string& path, std::string* file) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    char resolved[PATH_MAX];
    *file = S_ISREG(st.st_mode) && realpath(path.c_str(), resolved) ? resolved : path;
    return true;
  }
  std::string at = path;
  for (int hop = 0; hop < MAX_LINK_HOPS; ++hop) {
    if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *file = at;
      return true;
    }
    char target[PATH_MAX];
    ssize_t length = readlink(at.c_str(), target, sizeof target);
    if (length < 0) return false;
    if (size_t(length) == sizeof target) {
      errno = ENAMETOOLONG;
      return false;
    }
    std::string next(target, size_t(length));
    // a relative target is read from the link's own directory
    at = next[0] == '/' ? next : directory_of(at) + "/" + next;
  }
  errno = ELOOP;
  return false;
}

// An unnamed read-write file in `directory`, or -1 with errno set.
int open_unnamed_in(const std::string& directory, mode_t mode) {
  return ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
}

// True for the errors of a file system (or kernel) that makes no unnamed files.
bool unnamed_files_unsupported(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// Gives the unnamed file `fd` the name `name`; false with errno set (EEXIST
// when the name is taken). Through /proc where it is mounted, which needs no
// privilege, else by the descriptor itself.
bool link_unnamed(int fd, const std::string& name) {
  std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
  if (errno != ENOENT || access("/proc/self/fd", F_OK) == 0) return false;
  return linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0;
}

// Names for files beside `destination` that a rename puts in its place:
// hidden, with this process's number, tried in turn.
std::string temporary_name(const std::string& destination) {
  static unsigned counter = 0;
  return directory_of(destination) + "/." + name_of(destination) + "." +
         std::to_string(getpid()) + "." + std::to_string(counter++) + ".tmp";
}

}  // namespace

AtomicFile::~AtomicFile() { discard(); }

bool AtomicFile::open(const std::string& path, std::string* error, NonRegular non_regular) {
  discard();
  auto fail = [&](int number) {
    errno = number;
    *error = std::strerror(number);
    discard();
    return false;
  };
  if (!followed(path, &destination_)) return fail(errno);
  struct stat existing;
  bool exists = stat(destination_.c_str(), &existing) == 0;
  if (!exists && errno != ENOENT) return fail(errno);
  if (exists && S_ISDIR(existing.st_mode)) return fail(EISDIR);
  if (exists && !S_ISREG(existing.st_mode)) {
    int fd = ::open(destination_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return fail(errno);
    if (non_regular == NonRegular::WRITE_IN_PLACE) {
      fd_ = fd;
      in_place_ = true;
      return true;
    }
    copy_to_ = fd;
    fd_ = open_unnamed_file_beside(destination_, error);
    if (fd_ < 0) {
      int reason = errno;
      discard();
      errno = reason;
      return false;
    }
    return true;
  }

  mode_t mode = exists ? (existing.st_mode & 07777) : 0666;
  fd_ = open_unnamed_in(directory_of(destination_), mode);
  if (fd_ < 0 && !unnamed_files_unsupported(errno)) return fail(errno);
  if (fd_ < 0 && !open_named_temporary(mode, error)) return false;
  if (exists) {
    // the umask does not apply to a file that is replaced: it keeps its mode
    // and, where this process may give it, its owner
    (void)fchown(fd_, existing.st_uid, existing.st_gid);
    fchmod(fd_, existing.st_mode & 07777);
  }
  return true;
}

std::string AtomicFile::naming_directory() const {
  if (fd_ < 0 || in_place_ || copy_to_ >= 0) return "";
  return directory_of(destination_);
}

// Where no unnamed file can be made: a named one beside the destination,
// which SIGINT, SIGTERM and the like remove (SIGKILL cannot be caught).
bool AtomicFile::open_named_temporary(unsigned mode, std::string* error) {
  for (int attempt = 0; attempt < MAX_NAME_ATTEMPTS; ++attempt) {
    std::string candidate = temporary_name(destination_);
    // registered first, so that no signal can come between the create and the registration
    if (!remove_on_interrupt(candidate.c_str())) {
      errno = ENAMETOOLONG;
      *error = "too many temporary files, or a path too long";
      return false;
    }
    int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode_t(mode));
    if (fd < 0) {
      int open_error = errno;
      keep_on_interrupt(candidate.c_str());
      if (open_error == EEXIST) continue;
      errno = open_error;
      *error = std::strerror(open_error);
      return false;
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
  bool done = copy_to_ >= 0 ? copy_out(error) : give_name(error);
  discard();
  return done;
}

// Puts the finished file in place of the destination: a new name is made at
// once; an existing file is replaced by a rename from a name beside it.
bool AtomicFile::give_name(std::string* error) {
  if (fsync(fd_) != 0) {
    *error = std::strerror(errno);
    return false;
  }
  InterruptsHeld held;
  if (!temporary_.empty()) {
    if (rename(temporary_.c_str(), destination_.c_str()) != 0) {
      *error = std::strerror(errno);
      return false;
    }
    keep_on_interrupt(temporary_.c_str());
    temporary_.clear();
    return true;
  }
  if (link_unnamed(fd_, destination_)) return true;
  for (int attempt = 0; errno == EEXIST && attempt < MAX_NAME_ATTEMPTS; ++attempt) {
    // only SIGKILL, between the link and the rename, can leave this name
    std::string candidate = temporary_name(destination_);
    if (!remove_on_interrupt(candidate.c_str())) {
      errno = ENAMETOOLONG;
      break;
    }
    bool linked = link_unnamed(fd_, candidate);
    int link_error = errno;
    bool renamed = linked && rename(candidate.c_str(), destination_.c_str()) == 0;
    int rename_error = errno;
    if (linked && !renamed) unlink(candidate.c_str());
    keep_on_interrupt(candidate.c_str());
    if (renamed) return true;
    errno = linked ? rename_error : link_error;
    if (linked) break;
  }
  *error = std::strerror(errno);
  return false;
}

// Copies the finished file out to the output that is not a regular file.
bool AtomicFile::copy_out(std::string* error) {
  char buffer[COPY_CHUNK];
  off_t at = 0;
  for (;;) {
    ssize_t got = pread(fd_, buffer, sizeof buffer, at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    if (got == 0) {
      int closed = ::close(copy_to_);
      copy_to_ = -1;
      if (closed == 0) return true;
      break;
    }
    if (!write_all(copy_to_, buffer, size_t(got))) break;
    at += got;
  }
  *error = std::strerror(errno);
  return false;
}

void AtomicFile::discard() {
  if (fd_ >= 0) ::close(fd_);
  if (copy_to_ >= 0) ::close(copy_to_);
  fd_ = copy_to_ = -1;
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

int open_unnamed_file_in(const std::string& directory, std::string* error) {
  int fd = open_unnamed_in(directory, 0600);
  if (fd >= 0) return fd;
  // a file system without unnamed files: a name that goes at once
  std::string name = directory + "/.velt-unnamed-XXXXXX";
  InterruptsHeld held;
  fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) {
    unlink(name.c_str());
    return fd;
  }
  *error = std::strerror(errno);
  return -1;
}

int open_unnamed_file_beside(const std::string& path, std::string* error) {
  const char* tmpdir = std::getenv("TMPDIR");
  for (const std::string& dir : {directory_of(path), std::string(tmpdir ? tmpdir : "/tmp")}) {
    int fd = open_unnamed_file_in(dir, error);
    if (fd >= 0) return fd;
  }
  return -1;
}
