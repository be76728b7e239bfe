// velt-decode-only: runs the decode-only module on a frame pattern with the
// encoder's own host services, to time PNG decoding inside the sandbox alone.
#include <cstdio>
#include <cstring>

#include "file_services.h"
#include "module_instance.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("Usage: %s <input_pattern>\n", argv[0]);
    std::puts("Decodes frames 0, 1, ... and frame 0 again inside the sandbox, as velt-encode reads them.");
    return 1;
  }
  velt_runtime_init();
  static Z_velt_instance_t instance;
  std::memset(&instance, 0, sizeof instance);
  Z_a_instance_t* context = wasm_syscalls_init(&instance);

  int32_t decoded = -1;
  wasm_rt_trap_t trap = run_guarded([&] {
    wasm2c_velt_instantiate(&instance, context);
    Z_veltZ_j(&instance);
    uint32_t size = static_cast<uint32_t>(std::strlen(argv[1]) + 1);
    uint32_t offset = Z_veltZ_l(&instance, size);
    wasm_rt_memory_t* memory = Z_veltZ_memory(&instance);
    if (offset == 0 || static_cast<uint64_t>(offset) + size > memory->size) return;
    std::memcpy(memory->data + offset, argv[1], size);
    decoded = static_cast<int32_t>(Z_veltZ_d(&instance, offset));
  });
  if (trap != WASM_RT_TRAP_NONE) {
    std::fprintf(stderr, "Trap: %s\n", wasm_rt_strerror(trap));
    return 2;
  }
  wasm2c_velt_free(&instance);
  wasm_syscalls_free(context);
  wasm_rt_free();
  if (decoded < 0) {
    std::puts("Error!A frame could not be decoded.");
    return 1;
  }
  std::printf("Decoded %d frames\n", decoded);
  return 0;
}
