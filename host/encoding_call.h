// One call of the encoder module's entry in a fresh instance, with the
// front-end's own console around it.
#ifndef VELT_ENCODING_CALL_H
#define VELT_ENCODING_CALL_H

#include <cstdint>
#include <string>
#include <vector>

#include "confinement.h"
#include "file_services.h"
#include "input_reader.h"
#include "stream_spool.h"
#include "wasm-rt.h"

struct EncodingRequest {
  // Frame pattern, every 'X' standing for the frame number. With `frames`,
  // the pattern they were listed from, whose other names the output may not
  // take either, or "" when they come from elsewhere.
  const char* pattern;
  const char* output;  // path of the VELT file
  int32_t fps;
  int32_t flags;  // block mode in the two low bits
  // Frames of any names, in order, in place of the pattern's: the module then
  // reads them under the names kListedFramePattern gives. A listed frame
  // that is gone when the module reads it is a failure, not the end.
  const std::vector<std::string>* frames = nullptr;
  // Frames spooled from a stream, in place of `frames`, under the same names.
  const SpooledFrames* spooled = nullptr;
  // When set, the call encodes one part of the run (needs `frames` or
  // `spooled`): the
  // records of frames [first, end), and the closing record when `closing`.
  // The module may then read only frame 0 and frames first - 1 .. end - 1.
  struct PartRange {
    int32_t first;
    int32_t end;
    bool closing;
  };
  const PartRange* part = nullptr;
  // The tolerance in levels (0 to VELT_MAX_TOLERANCE): 0 stores every block
  // that changed at all; N stores a block only when it looks more than N
  // levels away from the source its displayed record was made from.
  int32_t tolerance = 0;
  // Where the frames come from and how they are read; the module is told
  // only when they are not the default PNG frames.
  InputSettings input = {};
  // When not -1, the output is written into this open file, which the caller
  // keeps, rather than put in place of `output`; output_kept then tells that
  // the module finished it.
  int output_fd = -1;
  // What becomes of an output that is not a regular file (a FIFO, a pipe).
  // The module seeks back to write the header last, which such a file
  // refuses; COPY_ON_COMMIT gives it the whole file once it is finished.
  AtomicFile::NonRegular non_regular_output = AtomicFile::NonRegular::WRITE_IN_PLACE;
  // When set, and the process is not confined for runs yet, it confines
  // itself by this policy before the module is made (confine_for_run): the
  // output is opened first, and the policy's files to read and directory to
  // name the output in are this request's.
  const ConfinementPolicy* confine = nullptr;
  // When set, the output as prepare_output (and confine_for_run) made it,
  // in place of one the call makes; it must outlive the call.
  OutputGrant* prepared_output = nullptr;
};

// The pattern the module is given for a list of frames: frame n is
// "frame_<n>.png" to the module, and the list's n-th file to the host.
extern const char kListedFramePattern[];

// Grants reading the listed frames under the names kListedFramePattern gives
// them; the number just past the list is a missing frame. With a part, only
// frame 0 and the frames from the first one the part reads before its range
// (the one before it, or with a tolerance the last refresh frame) to its last
// are granted.
FileGrants listed_frame_grants(const std::vector<std::string>& frames,
                               const EncodingRequest::PartRange* part, int32_t tolerance = 0);

// As listed_frame_grants, for frames spooled from a stream: frame n is the
// n-th slice of the spool file. `spooled` must outlive the grants.
FileGrants spooled_frame_grants(const SpooledFrames& spooled,
                                const EncodingRequest::PartRange* part, int32_t tolerance = 0);

// The files a request's run reads (the listed frames, the pattern's
// frames that exist, none from a stream), within its part's window.
std::vector<std::string> readable_frames(const EncodingRequest& request);

// Sets up `output` for the request's run: its path, the open file it is
// served from, and the refusal of an output that is a directory or one of
// the frames.
void prepare_output(const EncodingRequest& request, OutputGrant* output);

// Opens the output's file (a failure is kept for the module's open of it,
// which reports it) and confines the process by request.confine, with the
// request's frames to read and the output's directory to name it in. False
// with `refusal` set when the process would not run without every layer.
// For a front-end that calls a module before the run itself (a probe): it
// then passes `output` as the request's prepared_output.
bool confine_for_run(const EncodingRequest& request, OutputGrant* output, std::string* refusal);

// What a front-end shows at each step of the call. The steps run in this
// order; the defaults show nothing.
class EncodingConsole {
 public:
  virtual ~EncodingConsole() = default;
  virtual void instantiating() {}
  virtual void initialising() {}
  virtual void initialised(const wasm_rt_memory_t& /*memory*/) {}
  virtual void calling() {}
  // The entry returned `result` (0 on success, else a failure code).
  virtual void returned(uint32_t /*result*/) {}
  // The module could not hold the two path strings; the entry was not called.
  virtual void out_of_module_memory() {}
  // The module's memory could not be mapped at all (`reason` says why, as
  // "cannot map its ..."); nothing was called.
  virtual void memory_refused(const std::string& /*reason*/) {}
  // The finished file could not be put in place of the output.
  virtual void output_not_kept(const std::string& /*output*/, const std::string& /*reason*/) {}
};

// The module's report of its run, as it gave it.
struct ModuleRunReport {
  int32_t result = 0;
  int32_t frames_encoded = 0;
  int32_t failing_frame = -1;
  int32_t file_complete = 0;
  std::string reason;  // what went wrong, without the frame's path
};

struct EncodingOutcome {
  wasm_rt_trap_t trap = WASM_RT_TRAP_NONE;  // a trap ended the call
  bool out_of_module_memory = false;  // the module had no memory for the run
  bool tolerance_refused = false;  // the module refused the tolerance; nothing was encoded
  bool input_refused = false;  // the module refused the input settings; nothing was encoded
  std::string memory_refusal;  // when not even its memory could be mapped: why
  uint32_t result = 0;  // the entry's result, or 1 or 6 for the output's own failures
  ModuleRunReport report;  // as the module gave it, when it returned
  bool output_kept = false;  // the file is in place of the output
  std::string output_error;  // why the output was refused, could not be made, or not kept
  // When not empty, the process would not run without every sandbox layer
  // and says why; nothing was called.
  std::string sandbox_refusal;
};

// The result codes a run may end with and still have finished its file: the
// frames up to a failing later frame, and the closing record.
bool keeps_finished_file(uint32_t result);

// Creates the host services (with `hooks`) and a module instance, copies the
// two paths into module memory, calls compress_video_wasm and tears it all
// down again, also after a trap. The module's open of the output is refused
// when the output is a directory or one of the inputs; otherwise it writes
// into a temporary file, which takes the output's place only when the module
// reports it complete. In every other case the output stays as it was.
EncodingOutcome run_encoding_call(const EncodingRequest& request, EncodingConsole& console,
                                  FileServiceHooks hooks);

#endif
