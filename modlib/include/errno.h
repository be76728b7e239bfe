/* The module library's error number and the values it uses (WASI numbering). */
#ifndef VELT_MODLIB_ERRNO_H
#define VELT_MODLIB_ERRNO_H

#ifdef __cplusplus
extern "C" {
#endif

/* Set by a failing library call; never cleared by the library. */
extern int errno;

#define EBADF 8
#define EINVAL 28
#define EIO 29
#define EMFILE 33
#define ENOMEM 48
#define ENOTTY 59
#define EOVERFLOW 61

#ifdef __cplusplus
}
#endif

#endif
