// The library's error number; the module runs on one thread.
#include <errno.h>

extern "C" int errno = 0;
