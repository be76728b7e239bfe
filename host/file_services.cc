// The encoder module's imports: descriptor-based file and console access over
// the host's buffered streams (files, or slices of a file the host holds
// open), two fixed queries, and heap growth.
//
// Everything the module passes is untrusted. Each offset and length is checked
// against the memory's current size (in 64-bit, so nothing wraps) before the
// host reads or writes a byte; a call with any range outside the memory fails
// with WASI_EINVAL and has no effect at all.
#include "file_services.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "frame_pattern.h"

namespace {

constexpr uint32_t PAGE_SIZE = 65536;
constexpr uint64_t MAX_MEMORY_BYTES = 32768ull * PAGE_SIZE;  // 2 GiB

constexpr uint32_t OPEN_ACCESS_MASK = 3;
constexpr uint32_t OPEN_APPEND = 0x400;
constexpr uint32_t OPEN_CREATE_OR_TRUNCATE = 0x240;

constexpr uint32_t FCNTL_COMMAND_LIMIT = 5;
constexpr uint32_t TERMINAL_GET_ATTRIBUTES = 0x5401;
constexpr uint32_t TERMINAL_REQUEST_IGNORED_BIT = 4;

constexpr uint32_t IOVEC_SIZE = 8;
// as for the host's own gathering calls: a longer vector is refused, so the
// module cannot make the host copy an arbitrarily large one
constexpr uint32_t MAX_IOVECS = 1024;

// One entry of a module I/O vector.
struct IoVector {
  uint32_t buffer;
  uint32_t length;
};

wasm_rt_memory_t* memory_of(Z_a_instance_t* context) { return context->memory; }

// True when [offset, offset + length) lies inside the memory as it is now.
bool in_memory(const wasm_rt_memory_t* memory, uint64_t offset, uint64_t length) {
  return offset <= memory->size && length <= memory->size - offset;
}

uint32_t load_u32(const uint8_t* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 |
         uint32_t(at[3]) << 24;
}

void store_u32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = uint8_t(value >> (8 * i));
}

void store_u64(uint8_t* at, uint64_t value) {
  for (int i = 0; i < 8; ++i) at[i] = uint8_t(value >> (8 * i));
}

// Copies the vector out of module memory after checking the array and every
// buffer it names. A copy, because a read may land on the array itself.
bool load_vectors(const wasm_rt_memory_t* memory, uint32_t iovs, uint32_t iovs_len,
                  std::vector<IoVector>& vectors) {
  if (iovs_len > MAX_IOVECS) return false;
  if (!in_memory(memory, iovs, uint64_t(iovs_len) * IOVEC_SIZE)) return false;
  vectors.resize(iovs_len);
  for (uint32_t i = 0; i < iovs_len; ++i) {
    const uint8_t* entry = memory->data + iovs + uint64_t(i) * IOVEC_SIZE;
    vectors[i] = {load_u32(entry), load_u32(entry + 4)};
    if (!in_memory(memory, vectors[i].buffer, vectors[i].length)) return false;
  }
  return true;
}

// The stream of an open file descriptor, or null.
FILE* open_stream(Z_a_instance_t* context, uint32_t fd) {
  if (fd < FIRST_FILE_FD || fd >= FD_TABLE_SIZE) return nullptr;
  return context->fd_table[fd];
}

uint32_t negated(int error) { return uint32_t(-error); }

// A test's fault for this call, or 0.
uint32_t injected_fault(Z_a_instance_t* context, FileCall call) {
  ++context->file_calls;
  return context->hooks.fault ? context->hooks.fault(call, context->file_calls) : 0;
}

// Opens a file for reading without blocking on it, and only when it is a
// regular file: a FIFO or device could hang the run or feed it without end.
// The stream, or null with `*error` set to a WASI number.
FILE* open_regular_for_reading(const char* name, uint32_t* error) {
  int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = wasi_error(errno);
    return nullptr;
  }
  struct stat st;
  bool known = fstat(fd, &st) == 0;
  if (!known || !S_ISREG(st.st_mode)) {
    *error = known ? uint32_t(VELT_ENOTREG) : wasi_error(errno);
    close(fd);
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* stream = fdopen(fd, "rb");
  if (!stream) {
    *error = wasi_error(errno);
    close(fd);
  }
  return stream;
}

// The stream of an open slice: its own duplicate of the owner's descriptor,
// and a position within the slice.
struct SliceCookie {
  int fd;
  uint64_t offset;
  uint64_t length;
  uint64_t position;
};

// Reads from the position up to the slice's end at most, with pread: the
// descriptor's shared offset is never used, so forked workers and other
// streams on the same file do not move one another.
ssize_t read_slice(void* cookie, char* buffer, size_t size) {
  auto* slice = static_cast<SliceCookie*>(cookie);
  const uint64_t left = slice->position < slice->length ? slice->length - slice->position : 0;
  const size_t wanted = size_t(std::min<uint64_t>(size, left));
  size_t done = 0;
  while (done < wanted) {
    ssize_t got = pread(slice->fd, buffer + done, wanted - done,
                        off_t(slice->offset + slice->position + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && done == 0) return -1;
    if (got <= 0) break;  // an error after some bytes, or a file shorter than its slice
    done += size_t(got);
  }
  slice->position += done;
  return ssize_t(done);
}

// Moves within the slice as in a file of its length: anywhere from 0 on,
// past the end too, where reads find nothing.
int seek_slice(void* cookie, off64_t* offset, int whence) {
  auto* slice = static_cast<SliceCookie*>(cookie);
  int64_t base;
  if (whence == SEEK_SET) {
    base = 0;
  } else if (whence == SEEK_CUR) {
    base = int64_t(slice->position);
  } else if (whence == SEEK_END) {
    base = int64_t(slice->length);
  } else {
    errno = EINVAL;
    return -1;
  }
  int64_t moved;
  if (__builtin_add_overflow(base, *offset, &moved) || moved < 0) {
    errno = EINVAL;
    return -1;
  }
  slice->position = uint64_t(moved);
  *offset = moved;
  return 0;
}

int close_slice(void* cookie) {
  auto* slice = static_cast<SliceCookie*>(cookie);
  int result = close(slice->fd);
  delete slice;
  return result;
}

// A read-only stream on a slice, or null with `*error` set to a WASI number.
// A slice that does not fit in a file's offsets is refused.
FILE* open_slice(const FileSlice& slice, uint32_t* error) {
  const uint64_t max_offset = uint64_t(INT64_MAX);
  if (slice.offset > max_offset || slice.length > max_offset - slice.offset) {
    *error = WASI_EINVAL;
    return nullptr;
  }
  int fd = fcntl(slice.fd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    *error = wasi_error(errno);
    return nullptr;
  }
  auto* cookie = new SliceCookie{fd, slice.offset, slice.length, 0};
  cookie_io_functions_t functions{read_slice, nullptr, seek_slice, close_slice};
  FILE* stream = fopencookie(cookie, "rb", functions);
  if (!stream) {
    *error = wasi_error(errno);
    close_slice(cookie);
  }
  return stream;
}

// A stream on the output's temporary file, for an open of the output path;
// the file is made on the first such open.
FILE* open_output(OutputGrant* output, uint32_t flags, uint32_t* error) {
  if (!output->refusal.empty()) {
    output->error = output->refusal;
    *error = WASI_EACCES;
    return nullptr;
  }
  if (output->served_fd < 0 && output->file.fd() < 0) {
    if (output->open_errno == 0 &&
        !output->file.open(output->path, &output->error, output->non_regular))
      output->open_errno = errno;
    if (output->open_errno != 0) {
      *error = wasi_error(output->open_errno);
      return nullptr;
    }
  }
  int fd = dup(output->served_fd >= 0 ? output->served_fd : output->file.fd());
  if (fd >= 0) fcntl(fd, F_SETFD, FD_CLOEXEC);
  if (fd >= 0 && (flags & OPEN_CREATE_OR_TRUNCATE)) {
    // a device written in place cannot be truncated, and need not be
    (void)ftruncate(fd, 0);
    lseek(fd, 0, SEEK_SET);
  }
  // the descriptor is write-only: the stream may only append or write
  FILE* stream = fd < 0 ? nullptr : fdopen(fd, (flags & OPEN_APPEND) ? "ab" : "wb");
  if (!stream) {
    *error = wasi_error(errno);
    if (fd >= 0) close(fd);
  }
  return stream;
}

// Opens what the module asks for when its grants allow it: a read-only open
// of a readable path, or a write-only open of the output. Anything else is
// refused with EACCES before the file system is touched.
FILE* open_granted(Z_a_instance_t* context, const char* name, uint32_t flags, uint32_t* error) {
  const FileGrants& grants = context->grants;
  uint32_t access = flags & OPEN_ACCESS_MASK;
  if (access == 0 && grants.readable) {
    ReadGrant grant = grants.readable(name);
    if (grant.kind == ReadGrant::GRANTED && grant.slice.fd >= 0)
      return open_slice(grant.slice, error);
    if (grant.kind == ReadGrant::GRANTED) {
      FILE* stream = open_regular_for_reading(grant.host_path.c_str(), error);
      if (!stream && grant.listed && (*error == WASI_ENOENT || *error == WASI_ENOTDIR))
        *error = VELT_EGONE;
      // refused although its permissions let it be read: the sandbox's rules,
      // which name the files the frames were when the run began
      if (!stream && grant.listed && *error == WASI_EACCES &&
          ::access(grant.host_path.c_str(), R_OK) == 0)
        *error = VELT_EREPLACED;
      return stream;
    }
    if (grant.kind == ReadGrant::MISSING) {
      *error = WASI_ENOENT;
      return nullptr;
    }
  }
  if (access == 1 && grants.output && grants.output->path == name)
    return open_output(grants.output, flags, error);
  *error = WASI_EACCES;
  return nullptr;
}

}  // namespace

uint32_t wasi_error(int host_errno) {
  static const struct {
    int host;
    uint32_t wasi;
  } kNumbers[] = {
      {EACCES, 2},  {EAGAIN, 6},        {EBADF, 8},   {EBUSY, 10},    {EDQUOT, 19},
      {EEXIST, 20}, {EFBIG, 22},        {EINTR, 27},  {EINVAL, 28},   {EIO, 29},
      {EISDIR, 31}, {ELOOP, 32},        {EMFILE, 33}, {ENAMETOOLONG, 37}, {ENFILE, 41},
      {ENODEV, 43}, {ENOENT, 44},       {ENOMEM, 48}, {ENOSPC, 51},   {ENOTDIR, 54},
      {ENOTTY, 59}, {ENXIO, 60},        {EOVERFLOW, 61}, {EPERM, 63}, {EROFS, 69},
      {ESPIPE, 70}, {ETXTBSY, 74},
  };
  for (const auto& n : kNumbers)
    if (n.host == host_errno) return n.wasi;
  return WASI_EIO;
}

Z_a_instance_t* wasm_syscalls_init_for(wasm_rt_memory_t* memory, FileGrants grants,
                                       FileServiceHooks hooks) {
  auto* context = new Z_a_instance_t;
  context->memory = memory;
  context->grow_memory = wasm_rt_grow_memory;
  context->grants = std::move(grants);
  context->hooks = std::move(hooks);
  for (FILE*& slot : context->fd_table) slot = nullptr;
  return context;
}

void wasm_syscalls_free(Z_a_instance_t* context) {
  for (int fd = FIRST_FILE_FD; fd < FD_TABLE_SIZE; ++fd)
    if (context->fd_table[fd]) fclose(context->fd_table[fd]);
  delete context;
}

FileGrants pattern_grants(const std::string& pattern) {
  FileGrants grants;
  grants.readable = [pattern](const std::string& path) {
    ReadGrant grant;
    if (pattern_produces(pattern, path)) grant = {ReadGrant::GRANTED, path};
    return grant;
  };
  return grants;
}

extern "C" {

// close
u32 Z_aZ_a(Z_a_instance_t* context, u32 fd) {
  FILE* stream = open_stream(context, fd);
  if (!stream) return WASI_EBADF;
  if (uint32_t fault = injected_fault(context, FileCall::CLOSE)) return fault;
  fclose(stream);
  context->fd_table[fd] = nullptr;
  return 0;
}

// write, gathering from the vector
u32 Z_aZ_b(Z_a_instance_t* context, u32 fd, u32 iovs, u32 iovs_len, u32 nwritten) {
  if (fd >= FD_TABLE_SIZE) return WASI_EBADF;
  FILE* stream = context->fd_table[fd];
  FILE* console = fd == 1 ? stdout : fd == 2 ? stderr : nullptr;
  if (!stream && !console) return WASI_EBADF;
  if (uint32_t fault = injected_fault(context, FileCall::WRITE)) return fault;

  wasm_rt_memory_t* memory = memory_of(context);
  std::vector<IoVector> vectors;
  if (!load_vectors(memory, iovs, iovs_len, vectors) || !in_memory(memory, nwritten, 4))
    return WASI_EINVAL;

  uint32_t total = 0;
  if (!stream && context->hooks.console) {
    for (const IoVector& v : vectors) {
      context->hooks.console(int(fd), memory->data + v.buffer, v.length);
      total += v.length;
    }
  } else if (stream) {
    for (const IoVector& v : vectors) {
      size_t written = fwrite(memory->data + v.buffer, 1, v.length, stream);
      total += uint32_t(written);
      if (written < v.length) {
        // the module learns only that the write fell short: the reason is
        // kept for the host's message (the output is the one file it writes)
        if (context->grants.output && context->grants.output->error.empty())
          context->grants.output->error = std::strerror(errno);
        break;
      }
    }
  } else {
    // the console reports every byte as taken, whatever the stream did with it
    for (const IoVector& v : vectors) {
      fwrite(memory->data + v.buffer, 1, v.length, console);
      total += v.length;
    }
  }
  store_u32(memory->data + nwritten, total);
  return 0;
}

// descriptor control: the module's library only asks, and nothing changes
u32 Z_aZ_c(Z_a_instance_t*, u32, u32 cmd, u32) {
  return cmd < FCNTL_COMMAND_LIMIT ? 0 : negated(WASI_EINVAL);
}

// heap growth: make the memory at least `requested` bytes; 1 or 0
u32 Z_aZ_d(Z_a_instance_t* context, u32 requested) {
  wasm_rt_memory_t* memory = memory_of(context);
  if (memory->size >= requested) return 1;
  if (requested > MAX_MEMORY_BYTES) return 0;
  uint64_t pages = (uint64_t(requested) - memory->size + PAGE_SIZE - 1) / PAGE_SIZE;
  return context->grow_memory(memory, uint32_t(pages)) == UINT32_MAX ? 0 : 1;
}

// seek; the new position goes to `newoffset` as a 64-bit value
u32 Z_aZ_e(Z_a_instance_t* context, u32 fd, u64 offset, u32 whence, u32 newoffset) {
  FILE* stream = open_stream(context, fd);
  if (!stream) return WASI_EBADF;
  if (whence > 2) return WASI_EINVAL;
  wasm_rt_memory_t* memory = memory_of(context);
  if (!in_memory(memory, newoffset, 8)) return WASI_EINVAL;
  if (uint32_t fault = injected_fault(context, FileCall::SEEK)) return fault;

  static const int origins[3] = {SEEK_SET, SEEK_CUR, SEEK_END};
  errno = 0;
  if (fseeko(stream, off_t(int64_t(offset)), origins[whence]) != 0)
    return errno ? wasi_error(errno) : u32(WASI_EINVAL);
  store_u64(memory->data + newoffset, uint64_t(int64_t(ftello(stream))));
  return 0;
}

// read, scattering into the vector; stops at the first entry not filled
u32 Z_aZ_f(Z_a_instance_t* context, u32 fd, u32 iovs, u32 iovs_len, u32 nread) {
  if (fd >= FD_TABLE_SIZE || !context->fd_table[fd]) return WASI_EBADF;
  FILE* stream = context->fd_table[fd];
  if (uint32_t fault = injected_fault(context, FileCall::READ)) return fault;

  wasm_rt_memory_t* memory = memory_of(context);
  std::vector<IoVector> vectors;
  if (!load_vectors(memory, iovs, iovs_len, vectors) || !in_memory(memory, nread, 4))
    return WASI_EINVAL;

  uint32_t total = 0;
  for (const IoVector& v : vectors) {
    size_t got = fread(memory->data + v.buffer, 1, v.length, stream);
    total += uint32_t(got);
    if (got < v.length) break;
  }
  store_u32(memory->data + nread, total);
  return 0;
}

// terminal query: no descriptor is ever a terminal
u32 Z_aZ_g(Z_a_instance_t*, u32 fd, u32 request, u32) {
  bool console = fd == 1 || fd == 2;
  if (console && (request & ~TERMINAL_REQUEST_IGNORED_BIT) == TERMINAL_GET_ATTRIBUTES)
    return negated(WASI_ENOTTY);
  return negated(WASI_EINVAL);
}

// open: the lowest free descriptor, or a negated error number
u32 Z_aZ_h(Z_a_instance_t* context, u32, u32 path, u32 flags, u32) {
  uint32_t fd = FIRST_FILE_FD;
  while (fd < FD_TABLE_SIZE && context->fd_table[fd]) ++fd;
  if (fd == FD_TABLE_SIZE) return negated(WASI_EMFILE);

  // the path must end inside the memory
  wasm_rt_memory_t* memory = memory_of(context);
  if (path >= memory->size) return negated(WASI_EINVAL);
  const char* name = reinterpret_cast<const char*>(memory->data + path);
  if (!memchr(name, 0, memory->size - path)) return negated(WASI_EINVAL);

  if (uint32_t fault = injected_fault(context, FileCall::OPEN)) return negated(int(fault));

  uint32_t error = 0;
  FILE* stream = open_granted(context, name, flags, &error);
  if (context->hooks.on_open) context->hooks.on_open(name, stream != nullptr);
  if (!stream) return negated(int(error));
  // the module buffers its own streams; a host buffer on top would hold back
  // write failures until the close, whose result the module never sees
  setvbuf(stream, nullptr, _IONBF, 0);
  context->fd_table[fd] = stream;
  return fd;
}

}  // extern "C"
