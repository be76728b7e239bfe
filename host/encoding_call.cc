#include "encoding_call.h"

#include <cstring>
#include <utility>

#include "module_instance.h"

namespace {

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

EncodingOutcome run_encoding_call(const EncodingRequest& request, EncodingConsole& console,
                                  FileServiceHooks hooks) {
  velt_runtime_init();
  static Z_velt_instance_t instance;
  std::memset(&instance, 0, sizeof instance);
  Z_a_instance_t* context =
      wasm_syscalls_init_for_memory(Z_veltZ_memory(&instance), std::move(hooks));

  EncodingOutcome outcome;
  outcome.trap = run_guarded([&] {
    console.instantiating();
    wasm2c_velt_instantiate(&instance, context);
    console.initialising();
    Z_veltZ_j(&instance);
    console.initialised(*Z_veltZ_memory(&instance));

    uint32_t pattern_offset = copy_into_module(&instance, request.pattern);
    uint32_t output_offset = pattern_offset == 0 ? 0 : copy_into_module(&instance, request.output);
    if (output_offset == 0) {
      outcome.out_of_module_memory = true;
      console.out_of_module_memory();
    } else {
      console.calling();
      outcome.result =
          Z_veltZ_m(&instance, pattern_offset, output_offset, static_cast<uint32_t>(request.flags),
                    static_cast<uint32_t>(request.fps));
      console.returned(outcome.result);
    }
    if (pattern_offset != 0) Z_veltZ_k(&instance, pattern_offset);
    if (output_offset != 0) Z_veltZ_k(&instance, output_offset);
  });

  wasm2c_velt_free(&instance);
  wasm_syscalls_free(context);
  wasm_rt_free();
  return outcome;
}
