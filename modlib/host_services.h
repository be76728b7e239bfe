// The eight services the host supplies to the module: imports "a".."h" of
// import module "a". Pointers are module addresses; results come back as WASI
// error numbers (0 = success) unless said otherwise.
#ifndef VELT_MODLIB_HOST_SERVICES_H
#define VELT_MODLIB_HOST_SERVICES_H

#include <stdint.h>

// One buffer of a gathering write or a scattering read (8 bytes: address,
// length). The host fills the buffers of a read.
struct HostIoVector {
  const void* base;
  uint32_t length;
};
static_assert(sizeof(HostIoVector) == 8, "the host reads 8-byte vector entries");

// Open flags, access modes and control numbers the host understands.
enum {
  HOST_O_RDONLY = 0,
  HOST_O_WRONLY = 1,
  HOST_O_RDWR = 2,
  HOST_O_CREAT = 0x40,
  HOST_O_EXCL = 0x80,
  HOST_O_TRUNC = 0x200,
  HOST_O_APPEND = 0x400,
  HOST_O_CLOEXEC = 0x80000,
  HOST_AT_FDCWD = -100,
  HOST_F_SETFD = 2,
  HOST_FD_CLOEXEC = 1,
  HOST_TIOCGWINSZ = 0x5413,
};

#define HOST_SERVICE(field) __attribute__((import_module("a"), import_name(field)))

extern "C" {

// Closes a descriptor the module opened.
HOST_SERVICE("a") int32_t host_close(int32_t fd);
// Writes the buffers in order; stores the number of bytes written at
// *nwritten. Fewer than asked means the write failed part way.
HOST_SERVICE("b") int32_t host_write(int32_t fd, const HostIoVector* iovs, uint32_t iovs_len,
                                     uint32_t* nwritten);
// Descriptor control (fcntl); 0 or a negative error.
HOST_SERVICE("c") int32_t host_fcntl(int32_t fd, int32_t cmd, int32_t arg);
// Makes the linear memory at least `total_bytes` long; 1 on success, 0 when
// it cannot grow that far.
HOST_SERVICE("d") int32_t host_grow_heap(uint32_t total_bytes);
// Moves the position (whence 0 start, 1 current, 2 end) and stores the new
// position at *new_offset.
HOST_SERVICE("e") int32_t host_seek(int32_t fd, int64_t offset, int32_t whence,
                                    int64_t* new_offset);
// Reads into the buffers in order, stopping at the first one not filled;
// stores the number of bytes read at *nread (0 at end of file).
HOST_SERVICE("f") int32_t host_read(int32_t fd, const HostIoVector* iovs, uint32_t iovs_len,
                                    uint32_t* nread);
// Terminal control query (ioctl); 0 when the descriptor is a terminal,
// otherwise a negative error.
HOST_SERVICE("g") int32_t host_ioctl(int32_t fd, int32_t request, void* arg);
// Opens `path` with the given flags; the new descriptor, or a negative error.
HOST_SERVICE("h") int32_t host_open(int32_t dirfd, const char* path, int32_t flags, int32_t mode);

}

#undef HOST_SERVICE

#endif
