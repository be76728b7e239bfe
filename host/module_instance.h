// The runtime under every module: its set-up, the fault handler that turns a
// module's stray access into a trap, and calls into a module with the trap
// recovery point armed. Only the module host (module_host.h) uses these
// directly.
#ifndef VELT_MODULE_INSTANCE_H
#define VELT_MODULE_INSTANCE_H

#include <csetjmp>
#include <cstdint>

#include "wasm-rt.h"

extern "C" {
// The runtime's recovery point; a trap jumps here with its code.
extern jmp_buf wasm_rt_jmp_buf;
}

// Defined in a build with AddressSanitizer, whose own fault handling takes
// over the faults that are not a module's (gcc says __SANITIZE_ADDRESS__,
// clang __has_feature).
#if defined(__SANITIZE_ADDRESS__)
#define VELT_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELT_ADDRESS_SANITIZER 1
#endif
#endif

// Sets up the runtime, once per process; later calls do nothing, and the
// runtime is never freed. The translated modules check their memory accesses
// by guard pages: an access outside a memory lands in the inaccessible rest
// of its reservation and faults. The host replaces the runtime's SIGSEGV/SIGBUS
// handler with its own, on an alternate signal stack of its own (for the
// calling thread): a fault is an out-of-bounds trap only while a guarded call
// runs on that thread and the address lies inside the reservation of the
// memory it was made for. Any other fault is handed back to the handling the
// process had before (the default: the process dies by the signal), so a
// crash in the host stays a crash and never passes for a module trap.
void velt_runtime_init();

// The address space the packaged runtime reserves for every linear memory,
// from its base: 8 GiB, whatever the memory's maximum. Every address a
// module can form (a 32-bit offset plus a 32-bit constant) lies inside it.
constexpr uint64_t RUNTIME_MEMORY_RESERVATION = uint64_t(8) << 30;

// Address space a process keeps for its own allocations beside a guard-page
// memory's reservation: under a limit just above the reservation, the runtime
// could make the memory and leave the host itself without room.
constexpr uint64_t HOST_ADDRESS_SPACE_HEADROOM = uint64_t(512) << 20;

// True when the process can reserve RUNTIME_MEMORY_RESERVATION bytes of
// address space now and still have HOST_ADDRESS_SPACE_HEADROOM left: tried
// and given back at once. Where it cannot (an address-space limit, as
// `ulimit -v` sets), the packaged runtime would abort on making a guard-page
// memory or the host would run short, so the host runs the checked
// translation.
bool guard_page_reservation_available();

// Unmaps what the packaged runtime leaves of a freed memory's reservation:
// its free unmaps only the memory's current `size` bytes from `data`, so every
// instance freed in a long-lived process would keep nearly 8 GiB of address
// space. Call it right after the instance's free, with the memory's base and
// size as they were just before.
void release_memory_reservation(uint8_t* data, uint64_t size);

// The call into a module in progress on this thread, for the fault handler:
// made by run_guarded before it arms the recovery point, it is the current
// call until it goes out of scope, then the call it interrupted (or none) is
// current again. A call made from inside another (a host service calling
// into a module) keeps the outer call's recovery point and restores it.
class GuardedCall {
 public:
  explicit GuardedCall(const wasm_rt_memory_t* memory);
  ~GuardedCall();
  GuardedCall(const GuardedCall&) = delete;
  GuardedCall& operator=(const GuardedCall&) = delete;

  const wasm_rt_memory_t* memory() const { return memory_; }

 private:
  const wasm_rt_memory_t* memory_;
  GuardedCall* outer_;
  uint32_t depth_;      // the call-depth counter on entry
  jmp_buf outer_jump_;  // the outer call's recovery point, when there is one
};

// Runs `call` (a call into the module whose linear memory is `memory`; null
// when no fault is to be a trap) with the trap recovery point armed. Returns
// WASM_RT_TRAP_NONE, or the code of the trap that ended the call.
template <typename Call>
wasm_rt_trap_t run_guarded(const wasm_rt_memory_t* memory, Call&& call) {
  GuardedCall guarded(memory);
  wasm_rt_set_unwind_target(&wasm_rt_jmp_buf);
  int code = sigsetjmp(wasm_rt_jmp_buf, 1);
  if (code != 0) return static_cast<wasm_rt_trap_t>(code);
  call();
  return WASM_RT_TRAP_NONE;
}

#endif
