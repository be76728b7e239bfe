// Hosting a sandboxed module: the one place that sets the runtime up, makes
// and frees instances, and calls into them with traps caught.
//
// Instances must not run on two threads at once: in this wasm2c version the
// trap target `wasm_rt_jmp_buf` and the call-depth counter
// `wasm_rt_call_stack_depth` are process-wide globals. On one thread, any
// number of instances may be alive together and their calls may interleave;
// each has its own memory and its own services context with its own
// descriptors.
#ifndef VELT_MODULE_HOST_H
#define VELT_MODULE_HOST_H

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "bounded_memory.h"
#include "file_services.h"
#include "module_instance.h"

// Names the translated functions of a module built on the module library
// (imports "a", exports j start-up, k free, l allocate), whose wasm2c prefix
// is `prefix`, and whether that translation checks its accesses by guard
// pages (true) or by an explicit check before each one (false).
#define VELT_LIBRARY_TRANSLATION(Name, prefix, guard_pages)                                    \
  struct Name {                                                                                \
    using Instance = Z_##prefix##_instance_t;                                                  \
    static constexpr bool GUARD_PAGES = guard_pages;                                           \
    static void init_module() { Z_##prefix##_init_module(); }                                  \
    static void instantiate(Instance* i, Z_a_instance_t* c) { Z_##prefix##_instantiate(i, c); } \
    static void free(Instance* i) { Z_##prefix##_free(i); }                                    \
    static wasm_rt_memory_t* memory(Instance* i) { return Z_##prefix##Z_memory(i); }           \
    static void start(Instance* i) { Z_##prefix##Z_j(i); }                                     \
    static uint32_t allocate(Instance* i, uint32_t size) { return Z_##prefix##Z_l(i, size); }  \
    static void release(Instance* i, uint32_t at) { Z_##prefix##Z_k(i, at); }                  \
  }

// The same for a module with no imports and no start-up of its own, such as
// the probe and benchmark modules.
#define VELT_PLAIN_TRANSLATION(Name, prefix, guard_pages)                                      \
  struct Name {                                                                                \
    using Instance = Z_##prefix##_instance_t;                                                  \
    static constexpr bool GUARD_PAGES = guard_pages;                                           \
    static void init_module() { Z_##prefix##_init_module(); }                                  \
    static void instantiate(Instance* i, Z_a_instance_t*) { Z_##prefix##_instantiate(i); }     \
    static void free(Instance* i) { Z_##prefix##_free(i); }                                    \
    static wasm_rt_memory_t* memory(Instance* i) { return Z_##prefix##Z_memory(i); }           \
    static void start(Instance*) {}                                                            \
    static uint32_t allocate(Instance*, uint32_t) { return 0; }                                \
    static void release(Instance*, uint32_t) {}                                                \
  }

// A module's guard-page translation alone, for a ModuleHost of its own:
// VELT_LIBRARY_MODULE(EncoderModule, velt), VELT_PLAIN_MODULE(ProbeModule, probe).
#define VELT_LIBRARY_MODULE(Name, prefix) VELT_LIBRARY_TRANSLATION(Name, prefix, true)
#define VELT_PLAIN_MODULE(Name, prefix) VELT_PLAIN_TRANSLATION(Name, prefix, true)

// A module translated twice (add_wasm_module's CHECKED_TWIN), for a
// PairedModuleHost: Name::Guarded has the prefix `prefix`, Name::Checked the
// prefix `prefix`checked. VELT_LIBRARY_MODULE_PAIR(EncoderModule, velt).
#define VELT_LIBRARY_MODULE_PAIR(Name, prefix)                  \
  struct Name {                                                 \
    VELT_LIBRARY_TRANSLATION(Guarded, prefix, true);            \
    VELT_LIBRARY_TRANSLATION(Checked, prefix##checked, false);  \
  }

// One export of a paired module in both its translations, for
// PairedModuleHost::invoke: VELT_EXPORT(velt, q).
#define VELT_EXPORT(prefix, field) Z_##prefix##Z_##field, Z_##prefix##checkedZ_##field

// One instance of translation `M` with its services context: made on
// construction, freed (context last, closing any file it left open) on
// destruction.
template <typename M>
class ModuleHost {
 public:
  // Sets the runtime up (once per process) and the module's translated code
  // (once per module), then makes the instance with a services context that
  // serves `grants` and tells `hooks`, and runs the module's start-up. A trap
  // there is kept in start_trap(); such an instance must not be called.
  explicit ModuleHost(FileGrants grants = {}, FileServiceHooks hooks = {})
      : instance_(std::make_unique<typename M::Instance>()) {
    velt_runtime_init();
    static bool module_ready = false;
    if (!module_ready) {
      M::init_module();
      module_ready = true;
    }
    std::memset(instance_.get(), 0, sizeof(typename M::Instance));
    services_ = wasm_syscalls_init_for(M::memory(instance_.get()), std::move(grants),
                                       std::move(hooks));
    // the heap-growth service grows the memory the way it was made
    services_->grow_memory = M::GUARD_PAGES ? wasm_rt_grow_memory : velt_bounded_grow_memory;
    start_trap_ = call([&] {
      M::instantiate(instance_.get(), services_);
      M::start(instance_.get());
    });
    if (!M::GUARD_PAGES) unavailable_ = take_memory_refusal();
  }
  ~ModuleHost() {
    uint8_t* data = memory()->data;
    uint64_t size = memory()->size;
    M::free(instance_.get());
    if (M::GUARD_PAGES) release_memory_reservation(data, size);
    wasm_syscalls_free(services_);
  }
  ModuleHost(const ModuleHost&) = delete;
  ModuleHost& operator=(const ModuleHost&) = delete;

  wasm_rt_trap_t start_trap() const { return start_trap_; }
  // Why the instance has no memory (it could not be mapped), or "". Such an
  // instance also has a start trap.
  const std::string& unavailable() const { return unavailable_; }
  typename M::Instance* instance() { return instance_.get(); }
  wasm_rt_memory_t* memory() { return M::memory(instance_.get()); }
  Z_a_instance_t* services() { return services_; }

  // Runs `body` (calls into this instance) with traps caught; the trap's
  // code, or WASM_RT_TRAP_NONE. With guard pages, a fault inside this
  // instance's memory reservation while it runs is an out-of-bounds trap; a
  // checked translation traps before any stray access, so every fault during
  // its calls is the host's own and stays a crash.
  template <typename Body>
  wasm_rt_trap_t call(Body&& body) {
    return run_guarded(M::GUARD_PAGES ? memory() : nullptr, std::forward<Body>(body));
  }

  // True when [offset, offset + size) lies inside the memory as it is now.
  bool in_memory(uint64_t offset, uint64_t size) {
    return offset <= memory()->size && size <= memory()->size - offset;
  }

  // Copies `size` bytes into a block the module allocates, inside a guarded
  // call. The block's offset, or 0 when the module has no room, answers with
  // an offset outside its memory, or traps (kept in *trap).
  uint32_t copy_in(const void* bytes, uint32_t size, wasm_rt_trap_t* trap) {
    uint32_t at = 0;
    *trap = call([&] { at = M::allocate(instance_.get(), size); });
    // the allocator is module code: its answer is checked before it is used
    if (*trap != WASM_RT_TRAP_NONE || at == 0 || !in_memory(at, size)) return 0;
    std::memcpy(memory()->data + at, bytes, size);
    return at;
  }
  // Returns a block of copy_in() to the module's heap.
  wasm_rt_trap_t release(uint32_t at) {
    return call([&] { M::release(instance_.get(), at); });
  }

 private:
  std::unique_ptr<typename M::Instance> instance_;  // its address stays put
  Z_a_instance_t* services_ = nullptr;
  wasm_rt_trap_t start_trap_ = WASM_RT_TRAP_NONE;
  std::string unavailable_;
};

// One instance of a module translated twice (VELT_LIBRARY_MODULE_PAIR), in
// the guard-page translation when the process can reserve the address space
// it needs, else in the checked one: slower (bench/README.md), the same
// results, and only the pages in use mapped. The front-ends host their
// modules this way, so that they run under an address-space limit.
template <typename M>
class PairedModuleHost {
 public:
  explicit PairedModuleHost(FileGrants grants = {}, FileServiceHooks hooks = {}) {
    if (guard_page_reservation_available()) {
      guarded_.emplace(std::move(grants), std::move(hooks));
    } else {
      checked_.emplace(std::move(grants), std::move(hooks));
    }
  }

  wasm_rt_trap_t start_trap() { return either([](auto& host) { return host.start_trap(); }); }
  const std::string& unavailable() {
    return either([](auto& host) -> const std::string& { return host.unavailable(); });
  }
  wasm_rt_memory_t* memory() { return either([](auto& host) { return host.memory(); }); }
  template <typename Body>
  wasm_rt_trap_t call(Body&& body) {
    return either([&](auto& host) { return host.call(body); });
  }
  bool in_memory(uint64_t offset, uint64_t size) {
    return either([&](auto& host) { return host.in_memory(offset, size); });
  }
  uint32_t copy_in(const void* bytes, uint32_t size, wasm_rt_trap_t* trap) {
    return either([&](auto& host) { return host.copy_in(bytes, size, trap); });
  }
  wasm_rt_trap_t release(uint32_t at) {
    return either([&](auto& host) { return host.release(at); });
  }

  // Calls an export of the instance, `guarded` or `checked` by its
  // translation, with `args`; inside call(). VELT_EXPORT names both:
  // module.invoke(VELT_EXPORT(velt, q)).
  template <typename Guarded, typename Checked, typename... Args>
  auto invoke(Guarded guarded, Checked checked, Args... args) {
    return guarded_ ? guarded(guarded_->instance(), args...)
                    : checked(checked_->instance(), args...);
  }

 private:
  template <typename Use>
  decltype(auto) either(Use&& use) {
    return guarded_ ? use(*guarded_) : use(*checked_);
  }

  std::optional<ModuleHost<typename M::Guarded>> guarded_;
  std::optional<ModuleHost<typename M::Checked>> checked_;
};

#endif
