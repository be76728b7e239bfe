#include "module_instance.h"

#include <sys/mman.h>

#include <csignal>


// The runtime library was built without the call-depth counter that the
// translated module is compiled to use; the host provides it.
extern "C" {
uint32_t wasm_rt_call_stack_depth;
}

void velt_runtime_init() {
  // once per process: the packaged runtime frees its signal stack twice when
  // it is set up, freed and set up again
  if (wasm_rt_is_initialized()) return;
  wasm_rt_init();
  std::signal(SIGSEGV, SIG_DFL);
  std::signal(SIGBUS, SIG_DFL);
}

void release_memory_reservation(uint8_t* data, uint64_t size) {
  // nothing else can have been mapped inside the reservation meanwhile
  if (data != nullptr && size < RUNTIME_MEMORY_RESERVATION)
    munmap(data + size, RUNTIME_MEMORY_RESERVATION - size);
}
