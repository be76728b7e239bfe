// The library's error number and its texts; the module runs on one thread.
#include <errno.h>
#include <string.h>

extern "C" int errno = 0;

namespace {

struct ErrorText {
  int number;
  const char* text;
};

// The host system's wording, so that a reason reads as the system gives it.
const ErrorText kTexts[] = {
    {EACCES, "Permission denied"},
    {EAGAIN, "Resource temporarily unavailable"},
    {EBADF, "Bad file descriptor"},
    {EBUSY, "Device or resource busy"},
    {EDQUOT, "Disk quota exceeded"},
    {EEXIST, "File exists"},
    {EFBIG, "File too large"},
    {EINTR, "Interrupted system call"},
    {EINVAL, "Invalid argument"},
    {EIO, "Input/output error"},
    {EISDIR, "Is a directory"},
    {ELOOP, "Too many levels of symbolic links"},
    {EMFILE, "Too many open files"},
    {ENAMETOOLONG, "File name too long"},
    {ENFILE, "Too many open files in system"},
    {ENODEV, "No such device"},
    {ENOENT, "No such file or directory"},
    {ENOMEM, "Cannot allocate memory"},
    {ENOSPC, "No space left on device"},
    {ENOTDIR, "Not a directory"},
    {ENOTTY, "Inappropriate ioctl for device"},
    {ENXIO, "No such device or address"},
    {EOVERFLOW, "Value too large for defined data type"},
    {EPERM, "Operation not permitted"},
    {EROFS, "Read-only file system"},
    {ESPIPE, "Illegal seek"},
    {ETXTBSY, "Text file busy"},
    {ENOTCAPABLE, "Capabilities insufficient"},
    {ENOTREG, "not a regular file"},
    {EGONE, "gone since the frames were listed"},
    {EREPLACED, "replaced since the run began"},
};

}  // namespace

extern "C" char* strerror(int number) {
  for (const ErrorText& t : kTexts)
    if (t.number == number) return const_cast<char*>(t.text);
  return const_cast<char*>("Unknown error");
}
