/* The module library's error number and the values it uses (WASI numbering,
   which the host services also use for what they report). */
#ifndef VELT_MODLIB_ERRNO_H
#define VELT_MODLIB_ERRNO_H

#ifdef __cplusplus
extern "C" {
#endif

/* Set by a failing library call; never cleared by the library. */
extern int errno;

#define EACCES 2
#define EAGAIN 6
#define EBADF 8
#define EBUSY 10
#define EDQUOT 19
#define EEXIST 20
#define EFBIG 22
#define EINTR 27
#define EINVAL 28
#define EIO 29
#define EISDIR 31
#define ELOOP 32
#define EMFILE 33
#define ENAMETOOLONG 37
#define ENFILE 41
#define ENODEV 43
#define ENOENT 44
#define ENOMEM 48
#define ENOSPC 51
#define ENOTDIR 54
#define ENOTTY 59
#define ENXIO 60
#define EOVERFLOW 61
#define EPERM 63
#define EROFS 69
#define ESPIPE 70
#define ETXTBSY 74
#define ENOTCAPABLE 76
/* velt's own number, which WASI lacks: the host opens only regular files for
   reading, and refuses devices, FIFOs, sockets and directories with it */
#define ENOTREG 200
/* and a frame the host listed that is gone: not the end of the frames */
#define EGONE 201
/* and one that is another file now than when the run began: the kernel's
   sandbox reads only the files the frames were then */
#define EREPLACED 202

#ifdef __cplusplus
}
#endif

#endif
