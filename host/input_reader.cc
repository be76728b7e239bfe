#include "input_reader.h"

#include <cstring>
#include <optional>
#include <utility>

#include "module_host.h"
#include "velt_encoder.h"
#include "velt_format.h"
#include "veltchecked.h"

namespace {

VELT_LIBRARY_MODULE_PAIR(EncoderModule, velt);

static_assert(sizeof(InputReport) == 10 * 4 + RUN_REASON_SIZE, "the module's layout");
static_assert(sizeof(SourceFrame) == 5 * 4 + RUN_REASON_SIZE, "the module's layout");

std::string reason_at(const uint8_t* at) {
  const char* reason = reinterpret_cast<const char*>(at);
  return std::string(reason, strnlen(reason, RUN_REASON_SIZE));
}

// What the module prints is not for the user: its reports say what went wrong.
FileServiceHooks quiet_console() {
  FileServiceHooks hooks;
  hooks.console = [](int, const uint8_t*, size_t) {};
  return hooks;
}

}  // namespace

struct InputReader::Instance {
  PairedModuleHost<EncoderModule> module;
  std::string pattern;
  InputSettings settings;
  uint32_t pattern_at = 0;
  std::string failure;  // why the module can no longer be used, or ""

  Instance(FileGrants grants, std::string pattern_, InputSettings settings_)
      : module(std::move(grants), quiet_console()),
        pattern(std::move(pattern_)),
        settings(settings_) {
    wasm_rt_trap_t trap = module.start_trap();
    if (!module.unavailable().empty()) {
      failure = "the encoder module has no memory: " + module.unavailable();
      return;
    }
    if (trap == WASM_RT_TRAP_NONE)
      pattern_at = module.copy_in(pattern.c_str(), uint32_t(pattern.size() + 1), &trap);
    if (trap == WASM_RT_TRAP_NONE && pattern_at == 0) failure = "the encoder module has no memory";
    int32_t refused = 0;
    if (failure.empty() && trap == WASM_RT_TRAP_NONE)
      trap = module.call([&] {
        refused = int32_t(module.invoke(VELT_EXPORT(velt, t), uint32_t(settings.kind),
                                        settings.pad ? 1u : 0u, settings.raw_width,
                                        settings.raw_height));
      });
    if (trap != WASM_RT_TRAP_NONE) {
      failure = std::string("the encoder module trapped: ") + wasm_rt_strerror(trap);
    } else if (failure.empty() && refused != 0) {
      failure = "the encoder module refused the input settings";
    }
  }

  // Calls `body`, which returns an offset of `size` bytes in module memory;
  // a pointer to them, or null with `failure` set.
  template <typename Body>
  const uint8_t* call_for(uint32_t size, Body&& body) {
    if (!failure.empty()) return nullptr;
    uint32_t offset = 0;
    wasm_rt_trap_t trap = module.call([&] { offset = body(); });
    if (trap != WASM_RT_TRAP_NONE) {
      failure = std::string("the encoder module trapped: ") + wasm_rt_strerror(trap);
      return nullptr;
    }
    if (offset == 0 || !module.in_memory(offset, size)) {
      failure = "the encoder module answered outside its memory";
      return nullptr;
    }
    return module.memory()->data + offset;
  }
};

InputReader::InputReader(FileGrants grants, std::string pattern, InputSettings settings)
    : instance_(std::make_unique<Instance>(std::move(grants), std::move(pattern), settings)) {}

InputReader::~InputReader() = default;

bool InputReader::probe(int32_t flags, int32_t fps, InputProbe* probe, std::string* error) {
  Instance& in = *instance_;
  const uint8_t* at = in.call_for(sizeof(InputReport), [&] {
    return in.module.invoke(VELT_EXPORT(velt, u), in.pattern_at, uint32_t(flags), uint32_t(fps));
  });
  if (at == nullptr) {
    *error = in.failure;
    return false;
  }
  InputReport report;
  std::memcpy(&report, at, sizeof report);  // little-endian in the module, as in the host
  *probe = {report.result, report.source_kind, report.source_width, report.source_height,
            report.width, report.height, report.source_frames, report.rate, report.frames,
            report.timing_error_us, reason_at(at + offsetof(InputReport, reason))};
  return true;
}

InputReader::FrameResult InputReader::frame(int32_t flags, int32_t fps, int32_t number,
                                            InputPicture* picture, int32_t* code,
                                            std::string* error) {
  Instance& in = *instance_;
  const uint8_t* at = in.call_for(sizeof(SourceFrame), [&] {
    return in.module.invoke(VELT_EXPORT(velt, v), in.pattern_at, uint32_t(flags), uint32_t(fps),
                            uint32_t(number));
  });
  if (at == nullptr) {
    *error = in.failure;
    return MODULE_FAILED;
  }
  SourceFrame frame;
  std::memcpy(&frame, at, sizeof frame);
  *code = frame.result;
  if (frame.result == 1) return NO_SUCH_FRAME;
  if (frame.result != 0) {
    *error = reason_at(at + offsetof(SourceFrame, reason));
    return FRAME_FAILED;
  }
  uint64_t size = uint64_t(frame.width) * frame.height * 4;
  if (frame.width == 0 || frame.height == 0 || frame.width > VELT_MAX_SIDE || frame.height > VELT_MAX_SIDE ||
      !in.module.in_memory(frame.pixels, size)) {
    in.failure = "the encoder module answered outside its memory";
    *error = in.failure;
    return MODULE_FAILED;
  }
  picture->width = frame.width;
  picture->height = frame.height;
  // untrusted: never before the frame after this one
  picture->next = frame.next > number ? frame.next : number + 1;
  const uint8_t* pixels = in.module.memory()->data + frame.pixels;
  picture->rgba.assign(pixels, pixels + size);
  return FRAME_READ;
}
