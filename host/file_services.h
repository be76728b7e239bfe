// The eight host services the encoder module imports (module "a", fields
// "a".."h"): files, console, descriptor and terminal queries, heap growth.
// Every offset and length the module passes is checked against its memory.
#ifndef VELT_FILE_SERVICES_H
#define VELT_FILE_SERVICES_H

#include <cstdio>

#include "velt.h"  // the translated module: Z_velt_instance_t, imports Z_aZ_*

// Error numbers returned to the module (WASI numbering).
enum {
  WASI_EBADF = 8,
  WASI_EINVAL = 28,
  WASI_EMFILE = 33,
  WASI_ENOTTY = 59,
};

enum { FD_TABLE_SIZE = 64, FIRST_FILE_FD = 3 };

// The host-services context the module's imports receive: the instance whose
// linear memory the services read and write.
struct Z_a_instance_t {
  Z_velt_instance_t* instance;
};

// Host streams behind the module's descriptors; slots 0..2 stay empty.
extern FILE* fd_table[FD_TABLE_SIZE];

// Empties fd_table and returns a new context for `instance`.
Z_a_instance_t* wasm_syscalls_init(Z_velt_instance_t* instance);
// Closes every stream the module left open, empties fd_table, frees the context.
void wasm_syscalls_free(Z_a_instance_t* context);

#endif
