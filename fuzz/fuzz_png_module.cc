// libFuzzer target for the PNG module of `velt compare`: each input is a PNG
// file, decoded by one SandboxedPngDecoder for the whole process. A trap, a
// decoder left unusable, a picture whose size does not match its pixels, or
// any disagreement with the same decoding done natively is a finding.
#include "png_checksums.h"
#include "sandbox_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static PngModuleTarget target;
  abort_on_faults("PNG module fuzzer", target.run(data, size).faults);
  return 0;
}

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t max_size,
                                          unsigned int seed) {
  return mutate_keeping_checksums(data, size, max_size, seed, 0);
}
