// libFuzzer target for animation input: each input is a control byte (the
// block mode, and the rate or 0 for the file's own) and a GIF or animated
// PNG file, probed and encoded by the translated module as velt encode does.
// A trap, a result that is no failure code, a kept file that does not read
// back, or any disagreement with the native build of the same decoders and
// encoder is a finding.
#include "png_checksums.h"
#include "sandbox_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static AnimationTarget target;
  abort_on_faults("animation fuzzer", target.run(data, size).faults);
  return 0;
}

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t max_size);

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t max_size,
                                          unsigned int seed) {
  // an animated PNG's chunks keep their checksums; a GIF has none to keep
  if (size > 4 && data[1] == 0x89 && data[2] == 'P' && data[3] == 'N' && data[4] == 'G')
    return mutate_keeping_checksums(data, size, max_size, seed, 1);  // after the control byte
  return LLVMFuzzerMutate(data, size, max_size);
}
