#include "module_instance.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kernel_layers.h"

// The runtime library was built without the call-depth counter that the
// translated module is compiled to use; the host provides it.
extern "C" {
uint32_t wasm_rt_call_stack_depth;
}

#ifdef VELT_ADDRESS_SANITIZER
// AddressSanitizer catches SIGSEGV and SIGBUS itself. With 1 (its default)
// it lets the host install its own handler over its own, and the host hands
// every fault that is not a module's back to it, so a crash in the host is
// still reported; with 2 it would keep its handler and every guard-page trap
// would be reported as a crash. ASAN_OPTIONS still overrides these.
extern "C" const char* __asan_default_options() { return "handle_segv=1:handle_sigbus=1"; }
#endif

namespace {

// the guarded call in progress on this thread; static TLS of the program
// itself, which the fault handler reads without allocating anything
thread_local GuardedCall* current_call = nullptr;

// how the process handled SIGSEGV and SIGBUS before the runtime was set up
struct sigaction previous_segv, previous_bus;

constexpr size_t FAULT_STACK_SIZE = 128 << 10;

void on_fault(int signal_number, siginfo_t* info, void*) {
  const GuardedCall* call = current_call;
  // si_code > 0: the kernel raised it for a fault at si_addr (not kill())
  if (call != nullptr && call->memory() != nullptr && info->si_code > 0) {
    uintptr_t base = reinterpret_cast<uintptr_t>(call->memory()->data);
    uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
    if (base != 0 && address >= base && address - base < RUNTIME_MEMORY_RESERVATION)
      wasm_rt_trap(WASM_RT_TRAP_OOB);  // jumps to the call's recovery point
  }
  // anything else is not the module's: back to the handling from before, and
  // the faulting instruction faults again under it once this returns
  sigaction(signal_number, signal_number == SIGBUS ? &previous_bus : &previous_segv, nullptr);
  if (info->si_code <= 0) raise(signal_number);  // sent, not a fault: send it again
}

// Gives the calling thread an alternate signal stack with a guard page below
// it, so that a fault handler (ours, or the sanitizer's it hands a fault to)
// runs even when the fault came from an exhausted stack.
void install_fault_stack() {
  long page = sysconf(_SC_PAGESIZE);
  void* area = mmap(nullptr, FAULT_STACK_SIZE + page, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (area == MAP_FAILED || mprotect(area, page, PROT_NONE) != 0) {
    std::perror("velt: cannot map the fault handler's stack");
    std::abort();
  }
  stack_t stack = {};
  stack.ss_sp = static_cast<char*>(area) + page;
  stack.ss_size = FAULT_STACK_SIZE;
  if (sigaltstack(&stack, nullptr) != 0) {
    std::perror("velt: cannot set the fault handler's stack");
    std::abort();
  }
}

void install_fault_handler(int signal_number) {
  struct sigaction action = {};
  action.sa_sigaction = on_fault;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  struct sigaction installed = {};
  // a sanitizer may refuse the handler quietly: check it is in place
  if (sigaction(signal_number, &action, nullptr) != 0 ||
      sigaction(signal_number, nullptr, &installed) != 0 ||
      !(installed.sa_flags & SA_SIGINFO) || installed.sa_sigaction != on_fault) {
    std::fprintf(stderr, "velt: cannot install the %s handler that module traps need\n",
                 signal_number == SIGBUS ? "SIGBUS" : "SIGSEGV");
    std::abort();
  }
}

}  // namespace

void velt_runtime_init() {
  // once per process: the packaged runtime frees its signal stack twice when
  // it is set up, freed and set up again
  if (wasm_rt_is_initialized()) return;
  // before any module runs: nothing this process starts from now on can gain
  // privileges (best effort: a kernel that refuses it leaves the other layers)
  forbid_new_privileges();
  sigaction(SIGSEGV, nullptr, &previous_segv);
  sigaction(SIGBUS, nullptr, &previous_bus);
  // installs the runtime's own handler and signal stack, which are replaced:
  // its handler would turn every fault, the host's too, into a trap
  wasm_rt_init();
  install_fault_stack();
  install_fault_handler(SIGSEGV);
  install_fault_handler(SIGBUS);
}

bool guard_page_reservation_available() {
  // as the runtime asks for it: inaccessible, so nothing is committed
  const uint64_t size = RUNTIME_MEMORY_RESERVATION + HOST_ADDRESS_SPACE_HEADROOM;
  void* area = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (area == MAP_FAILED) return false;
  munmap(area, size);
  return true;
}

void release_memory_reservation(uint8_t* data, uint64_t size) {
  // nothing else can have been mapped inside the reservation meanwhile
  if (data != nullptr && size < RUNTIME_MEMORY_RESERVATION)
    munmap(data + size, RUNTIME_MEMORY_RESERVATION - size);
}

GuardedCall::GuardedCall(const wasm_rt_memory_t* memory)
    : memory_(memory), outer_(current_call), depth_(wasm_rt_call_stack_depth) {
  if (outer_ != nullptr) std::memcpy(outer_jump_, wasm_rt_jmp_buf, sizeof(jmp_buf));
  current_call = this;
  // the handler must see the record before any module code runs
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

GuardedCall::~GuardedCall() {
  // a trap leaves the depth counter where the trapping call stood
  wasm_rt_call_stack_depth = depth_;
  if (outer_ != nullptr) std::memcpy(wasm_rt_jmp_buf, outer_jump_, sizeof(jmp_buf));
  std::atomic_signal_fence(std::memory_order_seq_cst);
  current_call = outer_;
}
