// The runtime under every module: its set-up, and calls into a module with
// the trap recovery point armed. Only the module host (module_host.h) uses
// these directly.
#ifndef VELT_MODULE_INSTANCE_H
#define VELT_MODULE_INSTANCE_H

#include <csetjmp>
#include <cstdint>

#include "wasm-rt.h"

extern "C" {
// The runtime's recovery point; a trap jumps here with its code.
extern jmp_buf wasm_rt_jmp_buf;
}

// Sets up the runtime, once per process; later calls do nothing, and the
// runtime is never freed. The packaged runtime takes over SIGSEGV to catch
// guard-page faults; the module is compiled with explicit bounds checks
// instead, so the default handling is restored: a crash in the host must stay
// a crash, never pass for a module trap.
void velt_runtime_init();

// The address space the packaged runtime reserves for every linear memory,
// from its base: 8 GiB, whatever the memory's maximum.
constexpr uint64_t RUNTIME_MEMORY_RESERVATION = uint64_t(8) << 30;

// Unmaps what the packaged runtime leaves of a freed memory's reservation:
// its free unmaps only the memory's current `size` bytes from `data`, so every
// instance freed in a long-lived process would keep nearly 8 GiB of address
// space. Call it right after the instance's free, with the memory's base and
// size as they were just before.
void release_memory_reservation(uint8_t* data, uint64_t size);

// Runs `call` (a call into a module) with the trap recovery point armed.
// Returns WASM_RT_TRAP_NONE, or the code of the trap that ended the call.
template <typename Call>
wasm_rt_trap_t run_guarded(Call&& call) {
  // a trap leaves the depth counter where the trapping call stood
  uint32_t saved_depth = wasm_rt_call_stack_depth;
  wasm_rt_set_unwind_target(&wasm_rt_jmp_buf);
  int code = sigsetjmp(wasm_rt_jmp_buf, 1);
  if (code != 0) {
    wasm_rt_call_stack_depth = saved_depth;
    return static_cast<wasm_rt_trap_t>(code);
  }
  call();
  return WASM_RT_TRAP_NONE;
}

#endif
