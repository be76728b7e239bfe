// velt-decode-only: decodes a frame sequence in the PNG decoding module, as
// an encoding run reads it (frames 0, 1, ... up to the first missing one,
// then frame 0 again), to time PNG decoding inside the sandbox alone.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "frame_pattern.h"
#include "module_host.h"
#include "veltpng.h"

namespace {

VELT_LIBRARY_MODULE(PngModule, veltpng);

constexpr uint32_t RESULT_WORDS = 3;  // width, height, pixel offset
constexpr uint32_t MAX_SIDE = 1020;

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("Usage: %s <input_pattern>\n", argv[0]);
    std::puts("Decodes frames 0, 1, ... and frame 0 again inside the sandbox, as velt-encode reads them.");
    return 1;
  }
  const std::string pattern = argv[1];
  ModuleHost<PngModule> module(pattern_grants(pattern));
  wasm_rt_trap_t trap = module.start_trap();
  uint32_t result = 0;
  if (trap == WASM_RT_TRAP_NONE)
    trap = module.call([&] { result = Z_veltpngZ_l(module.instance(), RESULT_WORDS * 4); });

  // one decode of frame `number`: true when it decoded
  auto decode = [&](int64_t number) {
    std::string path = expand_x_pattern(pattern, number);
    uint32_t path_at = module.copy_in(path.c_str(), uint32_t(path.size() + 1), &trap);
    uint32_t code = 1;
    if (path_at != 0 && result != 0 && module.in_memory(result, RESULT_WORDS * 4)) {
      trap = module.call([&] {
        code = Z_veltpngZ_d(module.instance(), path_at, result, MAX_SIDE);
        uint32_t pixels = 0;
        std::memcpy(&pixels, module.memory()->data + result + 8, 4);
        if (pixels != 0) Z_veltpngZ_k(module.instance(), pixels);
        Z_veltpngZ_k(module.instance(), path_at);
      });
    }
    return trap == WASM_RT_TRAP_NONE && code == 0;
  };

  int decoded = 0;
  bool numbered = pattern.find('X') != std::string::npos;
  for (int64_t n = 0; trap == WASM_RT_TRAP_NONE && (n == 0 || (numbered && exists(expand_x_pattern(pattern, n)))); ++n) {
    if (!decode(n)) break;
    ++decoded;
  }
  bool closing = trap == WASM_RT_TRAP_NONE && decoded > 0 && decode(0);
  if (trap != WASM_RT_TRAP_NONE) {
    std::fprintf(stderr, "Trap: %s\n", wasm_rt_strerror(trap));
    return 2;
  }
  if (!closing) {
    std::puts("Error!A frame could not be decoded.");
    return 1;
  }
  std::printf("Decoded %d frames\n", decoded + 1);
  return 0;
}
