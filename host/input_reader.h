// The encoder module reading a run's input without encoding it: what frame 0
// gives (its size, and for an animation its frames and the rate they are
// held at), and each frame as a run encodes it, for comparing a file with
// its source. The pixels are copied out of module memory only after checking
// that they lie in it.
#ifndef VELT_INPUT_READER_H
#define VELT_INPUT_READER_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "file_services.h"

// Where a run's frames come from, and how they are read (the module's
// set_input): a kind of VELT_INPUT_*.
struct InputSettings {
  int32_t kind = 0;  // VELT_INPUT_FRAMES
  bool pad = false;
  uint32_t raw_width = 0;
  uint32_t raw_height = 0;
  bool is_default() const { return kind == 0 && !pad; }
};

// What the module found in frame 0, as its InputReport gives it.
struct InputProbe {
  int32_t result = 0;  // VELT_OK or the code a run fails with at frame 0
  int32_t source_kind = 0;  // VELT_SOURCE_*
  uint32_t source_width = 0, source_height = 0;  // before padding
  uint32_t width = 0, height = 0;                // as encoded
  int32_t source_frames = 0;
  int32_t rate = 0;
  int32_t frames = 0;  // after holding
  int32_t timing_error_us = 0;
  std::string reason;
};

struct InputPicture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgba;
  // the first later frame that may show another picture: the frames before
  // it show this one (as the module says: at least the frame after this one)
  int32_t next = 0;
};

class InputReader {
 public:
  // One instance that may read what `grants` allow, under `pattern`, with
  // `settings`.
  InputReader(FileGrants grants, std::string pattern, InputSettings settings);
  ~InputReader();
  InputReader(const InputReader&) = delete;
  InputReader& operator=(const InputReader&) = delete;

  // Frame 0 as a run with `flags` and `fps` (0: an animation's own rate)
  // reads it. False with `error` when the module failed as a module: a trap,
  // no memory, settings refused, or a report outside its memory.
  bool probe(int32_t flags, int32_t fps, InputProbe* probe, std::string* error);

  enum FrameResult { FRAME_READ, NO_SUCH_FRAME, FRAME_FAILED, MODULE_FAILED };
  // Frame `number` as such a run encodes it. FRAME_FAILED gives the code and
  // the module's reason in `error`; MODULE_FAILED what became of the module.
  FrameResult frame(int32_t flags, int32_t fps, int32_t number, InputPicture* picture,
                    int32_t* code, std::string* error);

 private:
  struct Instance;
  std::unique_ptr<Instance> instance_;
};

#endif
