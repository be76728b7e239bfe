// The module's exports besides the encoder entry (m) and the memory (i):
// start-up (j) and the allocator for the host (k, l). The stack-pointer
// exports n, o and p are in stack_pointer.s.
#include <stddef.h>
#include <stdlib.h>

#include "heap.h"

extern "C" {

// Runs the static constructors of the module's C++ code (made by the linker).
void __wasm_call_ctors();

// Static initialisation; the host calls it once, before any other export.
__attribute__((export_name("j"))) void module_initialize() {
  heap_init();
  __wasm_call_ctors();
}

// Frees a block that module_allocate returned.
__attribute__((export_name("k"))) void module_free(void* p) { free(p); }

// Allocates `size` bytes in the module heap; 0 when memory runs out.
__attribute__((export_name("l"))) void* module_allocate(size_t size) { return malloc(size); }

}  // extern "C"
