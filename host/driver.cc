#include "driver.h"

#include <cstdio>
#include <cstdlib>

#include "encoding_call.h"
#include "interrupt_cleanup.h"

namespace {

// Exit status when the module has no memory: none could be mapped for it, or
// it cannot hold the two path strings.
constexpr int EXIT_NO_MODULE_MEMORY = 9;
// Exit status when VELT_REQUIRE_SANDBOX=1 and a layer of the sandbox is missing.
constexpr int EXIT_NO_SANDBOX = 12;

// velt-encode's console: a line before each step, the memory size and the
// result line, all on standard output so that they interleave with the
// module's own messages in call order.
class BannerConsole : public EncodingConsole {
 public:
  void instantiating() override { std::puts("Instantiating WASM module..."); }
  void initialising() override { std::puts("Running WASM init..."); }
  void initialised(const wasm_rt_memory_t& memory) override {
    std::printf("Memory: %llu pages, %llu bytes\n", static_cast<unsigned long long>(memory.pages),
                static_cast<unsigned long long>(memory.size));
  }
  void calling() override { std::puts("Calling compress_video_wasm..."); }
  void returned(uint32_t result) override {
    if (result == 0) {
      std::puts("✅ Success!");
    } else {
      std::printf("❌ Failed with code: %u\n", result);
    }
  }
  void out_of_module_memory() override { std::puts("Error!Out of module memory."); }
  void memory_refused(const std::string& reason) override {
    std::printf("Error!Out of module memory: the module %s.\n", reason.c_str());
  }
  void output_not_kept(const std::string& output, const std::string&) override {
    std::printf("Error!Failed to write %s.\n", output.c_str());
  }
};

}  // namespace

void abort_on_trap(wasm_rt_trap_t trap) {
  std::fprintf(stderr, "Trap: %s\n", wasm_rt_strerror(trap));
  std::fflush(stdout);
  std::abort();
}

int32_t parse_int_argument(const char* text) {
  return static_cast<int32_t>(std::strtol(text, nullptr, 10));
}

int run_encoder(const char* program, const char* pattern, const char* output, int32_t fps,
                int32_t flags) {
  // a signal ends the run with 128 + its number and leaves nothing behind
  end_cleanly_on_signals();
  std::printf("Input pattern: %s\n", pattern);
  std::printf("Output: %s\n", output);
  std::printf("FPS: %d\n", fps);

  BannerConsole console;
  ConfinementPolicy policy;
  policy.program = program;
  policy.fault_role = "velt-encode";
  EncodingRequest request{pattern, output, fps, flags};
  request.confine = &policy;
  EncodingOutcome outcome = run_encoding_call(request, console, {});
  if (!outcome.sandbox_refusal.empty()) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", program, outcome.sandbox_refusal.c_str());
    return EXIT_NO_SANDBOX;
  }
  if (outcome.trap != WASM_RT_TRAP_NONE) abort_on_trap(outcome.trap);
  return outcome.out_of_module_memory ? EXIT_NO_MODULE_MEMORY : static_cast<int>(outcome.result);
}
