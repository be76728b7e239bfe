#include "driver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "file_services.h"
#include "module_instance.h"

namespace {

// Exit status when the module cannot hold the two path strings.
constexpr int EXIT_NO_MODULE_MEMORY = 9;

// Copies `text` with its NUL into a block the module allocates; 0 when the
// module has no room.
uint32_t copy_into_module(Z_velt_instance_t* instance, const char* text) {
  uint32_t size = static_cast<uint32_t>(std::strlen(text) + 1);
  uint32_t offset = Z_veltZ_l(instance, size);
  if (offset == 0) return 0;
  wasm_rt_memory_t* memory = Z_veltZ_memory(instance);
  // the allocator is module code: check its answer before writing through it
  if (static_cast<uint64_t>(offset) + size > memory->size) return 0;
  std::memcpy(memory->data + offset, text, size);
  return offset;
}

}  // namespace

void abort_on_trap(wasm_rt_trap_t trap) {
  std::fprintf(stderr, "Trap: %s\n", wasm_rt_strerror(trap));
  std::fflush(stdout);
  std::abort();
}

int32_t parse_int_argument(const char* text) {
  return static_cast<int32_t>(std::strtol(text, nullptr, 10));
}

int run_encoder(const char* pattern, const char* output, int32_t fps, int32_t flags) {
  std::printf("Input pattern: %s\n", pattern);
  std::printf("Output: %s\n", output);
  std::printf("FPS: %d\n", fps);

  velt_runtime_init();
  static Z_velt_instance_t instance;
  std::memset(&instance, 0, sizeof instance);
  Z_a_instance_t* context = wasm_syscalls_init(&instance);

  uint32_t result = 0;
  bool out_of_memory = false;
  wasm_rt_trap_t trap = run_guarded([&] {
    std::puts("Instantiating WASM module...");
    wasm2c_velt_instantiate(&instance, context);
    std::puts("Running WASM init...");
    Z_veltZ_j(&instance);
    wasm_rt_memory_t* memory = Z_veltZ_memory(&instance);
    std::printf("Memory: %llu pages, %llu bytes\n", static_cast<unsigned long long>(memory->pages),
                static_cast<unsigned long long>(memory->size));

    uint32_t pattern_offset = copy_into_module(&instance, pattern);
    uint32_t output_offset = pattern_offset == 0 ? 0 : copy_into_module(&instance, output);
    if (output_offset == 0) {
      std::puts("Error!Out of module memory.");
      out_of_memory = true;
    } else {
      std::puts("Calling compress_video_wasm...");
      result = Z_veltZ_m(&instance, pattern_offset, output_offset, static_cast<uint32_t>(flags),
                         static_cast<uint32_t>(fps));
      if (result == 0) {
        std::puts("✅ Success!");
      } else {
        std::printf("❌ Failed with code: %u\n", result);
      }
    }
    if (pattern_offset != 0) Z_veltZ_k(&instance, pattern_offset);
    if (output_offset != 0) Z_veltZ_k(&instance, output_offset);
  });
  if (trap != WASM_RT_TRAP_NONE) abort_on_trap(trap);

  wasm2c_velt_free(&instance);
  wasm_syscalls_free(context);
  wasm_rt_free();
  return out_of_memory ? EXIT_NO_MODULE_MEMORY : static_cast<int>(result);
}
