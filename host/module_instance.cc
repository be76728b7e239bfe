#include "module_instance.h"

#include <csignal>

#include "file_services.h"

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

void wasm2c_velt_instantiate(Z_velt_instance_t* instance, Z_a_instance_t* context) {
  static bool module_initialised = false;
  if (!module_initialised) {
    Z_velt_init_module();
    module_initialised = true;
  }
  Z_velt_instantiate(instance, context);
}

void wasm2c_velt_free(Z_velt_instance_t* instance) { Z_velt_free(instance); }
