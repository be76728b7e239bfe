// A module that tries to reach what its host did not grant: it hands the
// host services whatever its test asks for, unchecked, and returns what they
// answer. Built like the others, with the start-up and allocator exports a
// module host expects.

#define EXPORT(name) __attribute__((export_name(name)))
#define SERVICE(name) __attribute__((import_module("a"), import_name(name)))

typedef unsigned int u32;
typedef unsigned long long u64;

SERVICE("a") u32 host_close(u32 fd);
SERVICE("b") u32 host_write(u32 fd, u32 iovs, u32 iovs_len, u32 nwritten);
SERVICE("c") u32 host_fcntl(u32 fd, u32 cmd, u32 arg);
SERVICE("d") u32 host_grow(u32 total_bytes);
SERVICE("e") u32 host_seek(u32 fd, u64 offset, u32 whence, u32 newoffset);
SERVICE("f") u32 host_read(u32 fd, u32 iovs, u32 iovs_len, u32 nread);
SERVICE("g") u32 host_ioctl(u32 fd, u32 request, u32 arg);
SERVICE("h") u32 host_open(u32 dirfd, u32 path, u32 flags, u32 mode);

// a scratch area the test writes paths and vectors into
static unsigned char scratch[1 << 16];

EXPORT("j") void start(void) {}
EXPORT("k") void release(u32 at) { (void)at; }
EXPORT("l") u32 allocate(u32 size) { return size <= sizeof scratch ? (u32)scratch : 0; }

EXPORT("close") u32 try_close(u32 fd) { return host_close(fd); }
EXPORT("write") u32 try_write(u32 fd, u32 iovs, u32 n, u32 nwritten) {
  return host_write(fd, iovs, n, nwritten);
}
EXPORT("fcntl") u32 try_fcntl(u32 fd, u32 cmd, u32 arg) { return host_fcntl(fd, cmd, arg); }
EXPORT("grow") u32 try_grow(u32 total_bytes) { return host_grow(total_bytes); }
EXPORT("seek") u32 try_seek(u32 fd, u64 offset, u32 whence, u32 newoffset) {
  return host_seek(fd, offset, whence, newoffset);
}
EXPORT("read") u32 try_read(u32 fd, u32 iovs, u32 n, u32 nread) {
  return host_read(fd, iovs, n, nread);
}
EXPORT("ioctl") u32 try_ioctl(u32 fd, u32 request, u32 arg) { return host_ioctl(fd, request, arg); }
EXPORT("open") u32 try_open(u32 path, u32 flags) { return host_open((u32)-100, path, flags, 0666); }
