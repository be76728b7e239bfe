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

#include "file_services.h"
#include "module_instance.h"

// Names the translated functions of a module built on the module library
// (imports "a", exports j start-up, k free, l allocate), whose wasm2c prefix
// is `prefix`: VELT_LIBRARY_MODULE(EncoderModule, velt).
#define VELT_LIBRARY_MODULE(Name, prefix)                                                      \
  struct Name {                                                                                \
    using Instance = Z_##prefix##_instance_t;                                                  \
    static void init_module() { Z_##prefix##_init_module(); }                                  \
    static void instantiate(Instance* i, Z_a_instance_t* c) { Z_##prefix##_instantiate(i, c); } \
    static void free(Instance* i) { Z_##prefix##_free(i); }                                    \
    static wasm_rt_memory_t* memory(Instance* i) { return Z_##prefix##Z_memory(i); }           \
    static void start(Instance* i) { Z_##prefix##Z_j(i); }                                     \
    static uint32_t allocate(Instance* i, uint32_t size) { return Z_##prefix##Z_l(i, size); }  \
    static void release(Instance* i, uint32_t at) { Z_##prefix##Z_k(i, at); }                  \
  }

// The same for a module with no imports and no start-up of its own, such as
// the probe and benchmark modules: VELT_PLAIN_MODULE(ProbeModule, probe).
#define VELT_PLAIN_MODULE(Name, prefix)                                                        \
  struct Name {                                                                                \
    using Instance = Z_##prefix##_instance_t;                                                  \
    static void init_module() { Z_##prefix##_init_module(); }                                  \
    static void instantiate(Instance* i, Z_a_instance_t*) { Z_##prefix##_instantiate(i); }     \
    static void free(Instance* i) { Z_##prefix##_free(i); }                                    \
    static wasm_rt_memory_t* memory(Instance* i) { return Z_##prefix##Z_memory(i); }           \
    static void start(Instance*) {}                                                            \
    static uint32_t allocate(Instance*, uint32_t) { return 0; }                                \
    static void release(Instance*, uint32_t) {}                                                \
  }

// One instance of module `M` with its services context: made on
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
    start_trap_ = call([&] {
      M::instantiate(instance_.get(), services_);
      M::start(instance_.get());
    });
  }
  ~ModuleHost() {
    uint8_t* data = memory()->data;
    uint64_t size = memory()->size;
    M::free(instance_.get());
    release_memory_reservation(data, size);
    wasm_syscalls_free(services_);
  }
  ModuleHost(const ModuleHost&) = delete;
  ModuleHost& operator=(const ModuleHost&) = delete;

  wasm_rt_trap_t start_trap() const { return start_trap_; }
  typename M::Instance* instance() { return instance_.get(); }
  wasm_rt_memory_t* memory() { return M::memory(instance_.get()); }
  Z_a_instance_t* services() { return services_; }

  // Runs `body` (calls into this instance) with traps caught; the trap's
  // code, or WASM_RT_TRAP_NONE. A fault inside this instance's memory
  // reservation while it runs is an out-of-bounds trap.
  template <typename Body>
  wasm_rt_trap_t call(Body&& body) {
    return run_guarded(memory(), std::forward<Body>(body));
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
};

#endif
