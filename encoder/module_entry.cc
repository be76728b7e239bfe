// The encoder's entry as the module exports it. Inside the module the two
// path arguments are offsets into its linear memory, which is what pointers
// are there.
#include "velt_encoder.h"

extern "C" __attribute__((export_name("m"))) int32_t module_compress_video(const char* pattern,
                                                                         const char* output,
                                                                         int32_t flags, int32_t fps) {
  return compress_video_wasm(pattern, output, flags, fps);
}

// One part of a run: the records of frames first .. end - 1.
extern "C" __attribute__((export_name("r"))) int32_t module_encode_part(
    const char* pattern, const char* output, int32_t flags, int32_t fps, int32_t first, int32_t end,
    int32_t closing) {
  return encode_part(pattern, output, flags, fps, first, end, closing);
}

// The report of the last run, a RunReport of four 32-bit words.
extern "C" __attribute__((export_name("q"))) const RunReport* module_run_report() {
  return last_run_report();
}

// The tolerance of the runs that follow, in levels; 0 or -1 (refused).
extern "C" __attribute__((export_name("s"))) int32_t module_set_tolerance(int32_t levels) {
  return set_tolerance(levels);
}

// Where the frames of the calls that follow come from; 0 or -1 (refused).
extern "C" __attribute__((export_name("t"))) int32_t module_set_input(int32_t kind, int32_t pad,
                                                                    int32_t raw_width,
                                                                    int32_t raw_height) {
  return set_input(kind, pad, raw_width, raw_height);
}

// What frame 0 of a pattern gives: an InputReport.
extern "C" __attribute__((export_name("u"))) const InputReport* module_probe_input(
    const char* pattern, int32_t flags, int32_t fps) {
  return probe_input(pattern, flags, fps);
}

// One frame as a run encodes it: a SourceFrame.
extern "C" __attribute__((export_name("v"))) const SourceFrame* module_source_frame(
    const char* pattern, int32_t flags, int32_t fps, int32_t number) {
  return source_frame(pattern, flags, fps, number);
}
