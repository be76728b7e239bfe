// One input through a sandboxed module, and every check that makes the run a
// finding: the encoder module through run_encoding_call, and the PNG module
// of `velt compare` through SandboxedPngDecoder. Each run is also made by the
// same code built natively, which must agree. Shared by the two sandbox
// fuzzers and by the test that replays their regression files.
#ifndef VELT_FUZZ_SANDBOX_TARGETS_H
#define VELT_FUZZ_SANDBOX_TARGETS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "encoding_call.h"
#include "sandboxed_png.h"

// A directory of this process's own, removed with its files when the object
// goes. On a memory file system where there is one (a kept output is synced
// to disk), and with no 'X' in its path, since 'X' is the frame placeholder.
class PrivateDirectory {
 public:
  PrivateDirectory();
  ~PrivateDirectory();
  PrivateDirectory(const PrivateDirectory&) = delete;
  PrivateDirectory& operator=(const PrivateDirectory&) = delete;
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // The names in it, "." and ".." left out.
  std::vector<std::string> names() const;

 private:
  std::string path_;
};

struct EncoderTargetRun {
  EncodingOutcome outcome;
  int32_t native_result = -1;       // what the native build of the encoder returned; -1 if not run
  uint16_t frames_in_file = 0;      // the header's count of a kept output
  std::vector<std::string> faults;  // every check that failed; none for a sound run
};

// Runs encoder fuzz inputs (fuzz/encoder_input.h): the frame files are
// written into a private directory, the sandboxed encoder makes out.velt
// from them, starting each time with no output there, and the native
// encoder makes native.velt.
class EncoderTarget {
 public:
  EncoderTarget();
  EncoderTargetRun run(const uint8_t* data, size_t size);

 private:
  PrivateDirectory dir_;
  std::vector<uint8_t> valid_frame_;  // an 8x8 PNG, frame 0 before a fuzzed frame 1
};

struct AnimationTargetRun {
  EncodingOutcome outcome;
  InputProbe probe;  // what the module found in the file
  bool encoded = false;  // small enough to be encoded in a fuzzer's time
  std::vector<std::string> faults;  // every check that failed; none for a sound run
};

// Runs animation fuzz inputs: a control byte (bits 0-1 the block mode, bits
// 2-7 the rate, 0 for the file's own), then a GIF or animated PNG file. The
// sandboxed encoder probes and encodes it as velt encode does; the native
// build of the same decoders and encoder must find and write the same.
class AnimationTarget {
 public:
  AnimationTargetRun run(const uint8_t* data, size_t size);

 private:
  PrivateDirectory dir_;
};

struct PngTargetRun {
  bool decoded = false;
  DecodedPicture picture;
  std::string error;                // why it was refused
  std::vector<std::string> faults;  // every check that failed; none for a sound run
};

// Runs PNG files through one SandboxedPngDecoder, with the side limit that
// `velt compare` uses. After each file the decoder must still decode a
// valid one: a trap, or a report the host refused, leaves it unusable.
class PngModuleTarget {
 public:
  static constexpr unsigned kMaxSide = 1020;

  PngModuleTarget();
  PngTargetRun run(const uint8_t* data, size_t size);

 private:
  PrivateDirectory dir_;
  std::vector<uint8_t> probe_rgba_;  // the pixels of the probe file, decoded natively
  SandboxedPngDecoder decoder_;
};

// For the fuzzers: prints each fault as "<fuzzer>: <fault>" and aborts, so
// that libFuzzer records the input; returns when there is none.
void abort_on_faults(const char* fuzzer, const std::vector<std::string>& faults);

#endif
