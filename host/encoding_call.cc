#include "encoding_call.h"

#include <cstring>
#include <utility>

#include "module_instance.h"
#include "output_check.h"

namespace {

// The encoder's code for an output that could not be written.
constexpr uint32_t OUTPUT_NOT_WRITTEN = 6;

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

// The module's report of the run it just made, checked to lie in its memory.
bool read_run_report(Z_velt_instance_t* instance, ModuleRunReport* report) {
  uint32_t offset = Z_veltZ_q(instance);
  wasm_rt_memory_t* memory = Z_veltZ_memory(instance);
  if (offset == 0 || static_cast<uint64_t>(offset) + sizeof(int32_t) * 4 > memory->size)
    return false;
  int32_t words[4];
  std::memcpy(words, memory->data + offset, sizeof words);  // wasm memory is little-endian
  *report = {words[0], words[1], words[2], words[3]};
  return true;
}

}  // namespace

bool keeps_finished_file(uint32_t result) {
  switch (result) {
    case 0:  // success
    case 2:  // a later frame cannot be read
    case 3:  // a later frame's sides are not multiples of 4
    case 5:  // a later frame's size differs from frame 0's
    case 7:  // a later frame does not decode
    case 8:  // too many frames
      return true;
    default:
      return false;
  }
}

EncodingOutcome run_encoding_call(const EncodingRequest& request, EncodingConsole& console,
                                  FileServiceHooks hooks) {
  EncodingOutcome outcome;
  OutputGrant output;
  output.path = request.output;
  // refused when the module opens it, which it does before any frame
  output.refusal = output_conflict(request.pattern, request.output);

  velt_runtime_init();
  static Z_velt_instance_t instance;
  std::memset(&instance, 0, sizeof instance);
  Z_a_instance_t* context =
      wasm_syscalls_init_for_memory(Z_veltZ_memory(&instance), std::move(hooks));
  context->output = &output;
  bool has_report = false;

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
      has_report = read_run_report(&instance, &outcome.report);
    }
    if (pattern_offset != 0) Z_veltZ_k(&instance, pattern_offset);
    if (output_offset != 0) Z_veltZ_k(&instance, output_offset);
  });

  wasm2c_velt_free(&instance);
  wasm_syscalls_free(context);

  // what the module says of its file is its own affair; the host only keeps
  // it when the run ended as a finished file would
  bool finished = outcome.trap == WASM_RT_TRAP_NONE && has_report &&
                  outcome.report.file_complete == 1 && keeps_finished_file(outcome.result);
  outcome.output_error = output.error;
  if (finished) {
    outcome.output_kept = output.file.commit(&outcome.output_error);
    if (!outcome.output_kept) {
      outcome.result = OUTPUT_NOT_WRITTEN;
      console.output_not_kept(request.output, outcome.output_error);
    }
  } else {
    output.file.discard();
  }
  if (outcome.trap == WASM_RT_TRAP_NONE && !outcome.out_of_module_memory)
    console.returned(outcome.result);
  return outcome;
}
