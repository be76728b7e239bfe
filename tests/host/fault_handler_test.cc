// The host's fault handler: a fault is a module trap only while a call into
// that module runs and only inside its memory's reservation; every other
// fault still ends the process by its signal. And a trap in one instance
// leaves the others alive.
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>

#include "driver.h"
#include "hostile.h"
#include "module_host.h"
#include "probe.h"

namespace {

VELT_PLAIN_MODULE(ProbeModule, probe);
VELT_LIBRARY_MODULE(HostileModule, hostile);
using Probe = ModuleHost<ProbeModule>;

// A host fault ends the process: by its signal, or, under AddressSanitizer
// (to which the host hands it), by the sanitizer's report and exit status.
#ifdef VELT_ADDRESS_SANITIZER
::testing::ExitedWithCode died_of(int) { return ::testing::ExitedWithCode(1); }
std::string report_of(int signal_number) {
  return std::string("AddressSanitizer: ") + (signal_number == SIGBUS ? "BUS" : "SEGV");
}
#else
::testing::KilledBySignal died_of(int signal_number) {
  return ::testing::KilledBySignal(signal_number);
}
std::string report_of(int) { return ""; }
#endif

uint8_t read_byte(const uint8_t* at) { return *static_cast<const volatile uint8_t*>(at); }

// A page of the host's own that faults when read.
const uint8_t* inaccessible_page() {
  void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return page == MAP_FAILED ? nullptr : static_cast<const uint8_t*>(page);
}

// A page mapped from an empty file: reading it raises SIGBUS.
const uint8_t* page_past_end_of_file() {
  std::FILE* file = std::tmpfile();
  void* page = file ? mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fileno(file), 0) : MAP_FAILED;
  return page == MAP_FAILED ? nullptr : static_cast<const uint8_t*>(page);
}

// The first byte past a live instance's memory: its guard pages.
const uint8_t* guard_of(Probe& probe) { return probe.memory()->data + probe.memory()->size; }

// Makes a hostile module whose host services run `service_fault` during
// every file call, then has it open a file: a host service going wrong while
// a call into the module is in progress.
void during_service(std::function<void()> service_fault) {
  FileServiceHooks hooks;
  hooks.fault = [service_fault](FileCall, uint64_t) {
    service_fault();
    return uint32_t(0);
  };
  ModuleHost<HostileModule> module(FileGrants{}, hooks);
  uint32_t path = Z_hostileZ_l(module.instance(), 0);
  module.memory()->data[path] = 'x';
  module.memory()->data[path + 1] = 0;
  module.call([&] { Z_hostileZ_open(module.instance(), path, 0); });
}

TEST(FaultHandler, FaultsThatAreNotAModulesStillEndTheProcess) {
  struct Case {
    const char* why;
    int signal;
    void (*fault)();
  };
  const Case cases[] = {
      {"the host reads a page of its own outside any call", SIGSEGV,
       [] {
         Probe probe;  // the runtime and its handler are set up
         read_byte(inaccessible_page());
       }},
      {"the host reads an instance's guard pages outside any call", SIGSEGV,
       [] {
         Probe probe;
         read_byte(guard_of(probe));
       }},
      {"the same after a call that trapped, and one that returned", SIGSEGV,
       [] {
         Probe probe;
         Z_probe_instance_t* i = probe.instance();
         if (probe.call([&] { Z_probeZ_load8(i, probe.memory()->size); }) != WASM_RT_TRAP_OOB ||
             probe.call([&] { Z_probeZ_load8(i, 0); }) != WASM_RT_TRAP_NONE)
           _exit(3);
         read_byte(guard_of(probe));
       }},
      {"a host service reads a bad host pointer during a call", SIGSEGV,
       [] { during_service([] { read_byte(inaccessible_page()); }); }},
      {"a host service reads another instance's guard pages during a call", SIGSEGV,
       [] {
         Probe other;
         const uint8_t* guard = guard_of(other);
         during_service([guard] { read_byte(guard); });
       }},
      {"a host service hits a bus error during a call", SIGBUS,
       [] { during_service([] { read_byte(page_past_end_of_file()); }); }},
      {"SIGSEGV sent, not raised by a fault, during a call", SIGSEGV,
       [] { during_service([] { raise(SIGSEGV); }); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EXIT(c.fault(), died_of(c.signal), report_of(c.signal));
  }
}

// A guard-page trap reaches the programs' report like any other trap: its
// message on standard error, then abort.
TEST(FaultHandler, AGuardPageTrapIsReportedAsATrap) {
  EXPECT_EXIT(
      {
        Probe probe;
        abort_on_trap(probe.call([&] { Z_probeZ_load8_far(probe.instance(), 0xFFFFFFFF); }));
      },
      ::testing::KilledBySignal(SIGABRT),
      "^Trap: Out-of-bounds access in linear memory or a table\n$");
}

TEST(FaultHandler, ATrapInOneInstanceLeavesAnotherUsable) {
  auto first = std::make_unique<Probe>();
  Probe second;
  ASSERT_EQ(first->start_trap(), WASM_RT_TRAP_NONE);
  ASSERT_EQ(second.start_trap(), WASM_RT_TRAP_NONE);
  const uint32_t end = second.memory()->size;

  EXPECT_EQ(first->call([&] { Z_probeZ_store8(first->instance(), first->memory()->size, 1); }),
            WASM_RT_TRAP_OOB);
  uint32_t value = 0;
  EXPECT_EQ(second.call([&] {
              Z_probeZ_store8(second.instance(), end - 1, 9);
              value = Z_probeZ_load8(second.instance(), end - 1);
            }),
            WASM_RT_TRAP_NONE);
  EXPECT_EQ(value, 9u);

  first.reset();  // frees its memory and unmaps its whole reservation
  EXPECT_EQ(second.call([&] { Z_probeZ_load8(second.instance(), end); }), WASM_RT_TRAP_OOB)
      << "the second instance's own guard pages still trap";
  EXPECT_EQ(second.call([&] { value = Z_probeZ_load8(second.instance(), end - 1); }),
            WASM_RT_TRAP_NONE);
  EXPECT_EQ(value, 9u);
}

// A host service may call into another module while its own is in a call:
// when the inner call ends, returned or trapped, the outer call's memory and
// recovery point are current again.
TEST(FaultHandler, ACallInsideAnotherGivesTheOuterCallBack) {
  Probe outer, inner;
  for (uint32_t inner_at : {0u, inner.memory()->size}) {
    SCOPED_TRACE(inner_at == 0 ? "the inner call returned" : "the inner call trapped");
    wasm_rt_trap_t inner_trap = WASM_RT_TRAP_NONE;
    bool outer_went_on = false;
    wasm_rt_trap_t outer_trap = outer.call([&] {
      inner_trap = inner.call([&] { Z_probeZ_load8(inner.instance(), inner_at); });
      Z_probeZ_load8(outer.instance(), outer.memory()->size);
      outer_went_on = true;
    });
    EXPECT_EQ(inner_trap, inner_at == 0 ? WASM_RT_TRAP_NONE : WASM_RT_TRAP_OOB);
    EXPECT_EQ(outer_trap, WASM_RT_TRAP_OOB);
    EXPECT_FALSE(outer_went_on);
    EXPECT_EQ(wasm_rt_call_stack_depth, 0u);
  }
}

}  // namespace
