// The eight host services the encoder module imports (module "a", fields
// "a".."h"): files, console, descriptor and terminal queries, heap growth.
// Every offset and length the module passes is checked against its memory.
#ifndef VELT_FILE_SERVICES_H
#define VELT_FILE_SERVICES_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "atomic_file.h"
#include "velt.h"  // the translated module: Z_velt_instance_t, imports Z_aZ_*

// Error numbers returned to the module (WASI numbering).
enum {
  WASI_EACCES = 2,
  WASI_EBADF = 8,
  WASI_EINVAL = 28,
  WASI_EIO = 29,
  WASI_EMFILE = 33,
  WASI_ENOENT = 44,
  WASI_ENOSPC = 51,
  WASI_ENOTDIR = 54,
  WASI_ENOTTY = 59,
  // velt's own number, which WASI lacks: a path opened for reading that is
  // not a regular file (a FIFO, device, socket or directory)
  VELT_ENOTREG = 200,
  // a frame the host listed that is no longer there: unlike a missing name,
  // it does not end the frames
  VELT_EGONE = 201,
  // a listed frame whose name leads to another file than when the process
  // was confined, which the kernel's rules (made for the files then) refuse
  VELT_EREPLACED = 202,
};

// The WASI number of a host errno value; EIO for one WASI has no name for.
uint32_t wasi_error(int host_errno);

// The services that touch files, as a test's fault injection names them.
enum class FileCall { OPEN, READ, WRITE, SEEK, CLOSE };

enum { FD_TABLE_SIZE = 64, FIRST_FILE_FD = 3 };

// What a front-end may learn from, or take over of, the module's file access.
struct FileServiceHooks {
  // Told of every open the module asks for: the host path and whether a
  // stream was opened. The path is only valid during the call.
  std::function<void(const char* path, bool opened)> on_open;
  // Takes what the module writes to descriptors 1 and 2 in place of the
  // host's standard output and standard error.
  std::function<void(int fd, const uint8_t* bytes, size_t size)> console;
  // For tests: asked before each file call with its kind and its number in
  // the instance's life (from 1); a non-zero WASI error number makes that
  // call fail with it before it touches anything.
  std::function<uint32_t(FileCall call, uint64_t index)> fault;
};

// The output a module is to write. An open of exactly `path` for writing is
// served from `file`, made on that first open: a temporary file that the host
// renames into place only when the run is complete, so that a failed run
// leaves the path as it was.
struct OutputGrant {
  std::string path;
  std::string refusal;  // why the module may not write it; "" when it may
  AtomicFile file;
  // What `file` does with an output that is not a regular file.
  AtomicFile::NonRegular non_regular = AtomicFile::NonRegular::WRITE_IN_PLACE;
  // When not -1, an open file (such as an unnamed one that a worker's part is
  // written into) to serve the path from instead of `file`; its owner keeps it.
  int served_fd = -1;
  std::string error;  // why the open was refused or failed
  // When the host made `file` before the module asked for it and could not:
  // the errno that the module's open then fails with.
  int open_errno = 0;
};

// Bytes [offset, offset + length) of a file the host holds open, served to
// the module as a whole file of `length` bytes.
struct FileSlice {
  int fd = -1;  // read with pread only; its owner keeps it open
  uint64_t offset = 0;
  uint64_t length = 0;
};

// The host's answer to a module that asks to read a path.
struct ReadGrant {
  enum Kind { REFUSED, MISSING, GRANTED } kind = REFUSED;
  std::string host_path;  // the file to open, when GRANTED without a slice
  // The host listed the file as a frame: should it be gone, the module hears
  // VELT_EGONE rather than that no such file exists.
  bool listed = false;
  // When its fd is not -1, what a GRANTED open reads in place of host_path.
  FileSlice slice = {};
};

// The files an instance may open. Everything else is refused with EACCES
// before the file system is touched: a module taken over through a decoder
// fault still cannot read or write what its host did not give it.
struct FileGrants {
  // What a read-only open of `path` gets: a host file to open (which may be
  // another name than the module's), "no such file", or a refusal.
  std::function<ReadGrant(const std::string& path)> readable;
  // The one path the module may open, write-only; none when null.
  OutputGrant* output = nullptr;
};

// The host-services context the module's imports receive: the linear memory
// the services read and write, the files it may open, the front-end's hooks,
// and its own descriptor table. Every module built on the module library
// imports the same services, so one context type serves any of them.
struct Z_a_instance_t {
  wasm_rt_memory_t* memory;
  // grows `memory` by pages as its translation's memories grow (the packaged
  // runtime's guard-page growth unless the module host says otherwise); the
  // page count before, or UINT32_MAX
  uint32_t (*grow_memory)(wasm_rt_memory_t* memory, uint32_t pages);
  FileGrants grants;
  FileServiceHooks hooks;
  // host streams behind the module's descriptors; slots 0..2 stay empty
  FILE* fd_table[FD_TABLE_SIZE];
  uint64_t file_calls = 0;
};

// Returns a new context, with an empty descriptor table, for the module whose
// linear memory record is `memory` (still empty: the instance is created
// after its context).
Z_a_instance_t* wasm_syscalls_init_for(wasm_rt_memory_t* memory, FileGrants grants,
                                       FileServiceHooks hooks);
// Closes every stream the module left open and frees the context.
void wasm_syscalls_free(Z_a_instance_t* context);

// Grants for reading exactly the paths a frame pattern produces (every 'X'
// replaced by one decimal frame number), each under its own name.
FileGrants pattern_grants(const std::string& pattern);

#endif
