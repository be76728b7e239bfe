// One call of the encoder module's entry in a fresh instance, with the
// front-end's own console around it.
#ifndef VELT_ENCODING_CALL_H
#define VELT_ENCODING_CALL_H

#include <cstdint>

#include "file_services.h"
#include "wasm-rt.h"

struct EncodingRequest {
  const char* pattern;  // frame pattern, every 'X' standing for the frame number
  const char* output;   // path of the VELT file
  int32_t fps;
  int32_t flags;  // block mode in the two low bits
};

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
};

struct EncodingOutcome {
  wasm_rt_trap_t trap = WASM_RT_TRAP_NONE;  // a trap ended the call
  bool out_of_module_memory = false;
  uint32_t result = 0;  // the entry's result when it returned
};

// Creates the host services (with `hooks`) and a module instance, copies the
// two paths into module memory, calls compress_video_wasm and tears it all
// down again, also after a trap.
EncodingOutcome run_encoding_call(const EncodingRequest& request, EncodingConsole& console,
                                  FileServiceHooks hooks);

#endif
