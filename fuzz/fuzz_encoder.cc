// libFuzzer target for the encoder module: each input is a control byte and
// a frame file (fuzz/encoder_input.h), encoded by the translated module
// through run_encoding_call. A trap, a result that is no failure code, an
// output kept or left against the result, a kept file that does not read
// back whole, or any disagreement with the native encoder is a finding.
#include "png_checksums.h"
#include "sandbox_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static EncoderTarget target;
  abort_on_faults("encoder fuzzer", target.run(data, size).faults);
  return 0;
}

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t max_size,
                                          unsigned int seed) {
  return mutate_keeping_checksums(data, size, max_size, seed, 1);  // after the control byte
}
