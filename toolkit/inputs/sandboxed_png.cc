#include "sandboxed_png.h"

#include <cstring>

extern "C" {
#include "lodepng.h"
}

#include "module_host.h"
#include "veltpng.h"
#include "veltpngchecked.h"

namespace {

// The module's result codes besides lodepng's.
constexpr uint32_t PNG_TOO_LARGE = 1000;
constexpr uint32_t RESULT_WORDS = 3;  // width, height, pixel offset

uint32_t load_u32(const uint8_t* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

// Only the text table of the host's copy of the decoder is used: it maps any
// number, known or not, to a fixed string.
std::string decoder_error_text(uint32_t code) {
  switch (code) {
    case 78:
      return "cannot open the file";
    case 83:
      return "the PNG decoder ran out of module memory";
    case 109:
      return "not a valid PNG file: its image data inflates to more than its header allows";
    case PNG_TOO_LARGE:
      return "the picture is larger than the animation's frames can be";
    default:
      return std::string("not a valid PNG file: ") + lodepng_error_text(code);
  }
}

VELT_LIBRARY_MODULE_PAIR(PngModule, veltpng);

}  // namespace

struct SandboxedPngDecoder::Instance {
  // the one file the module may read: the source frame being decoded
  std::string granted;
  PairedModuleHost<PngModule> module;
  uint32_t path_offset = 0;  // a block the module allocated for the path
  uint32_t path_capacity = 0;
  uint32_t result_offset = 0;  // where the entry writes its three words
  bool broken = false;

  Instance() : module(grants_for(&granted)) {}

  static FileGrants grants_for(const std::string* granted) {
    FileGrants grants;
    grants.readable = [granted](const std::string& path) {
      ReadGrant grant;
      if (path == *granted) grant = {ReadGrant::GRANTED, path};
      return grant;
    };
    return grants;
  }
};

SandboxedPngDecoder::SandboxedPngDecoder() : instance_(std::make_unique<Instance>()) {
  Instance& in = *instance_;
  wasm_rt_trap_t trap = in.module.start_trap();
  if (trap == WASM_RT_TRAP_NONE)
    trap = in.module.call(
        [&] { in.result_offset = in.module.invoke(VELT_EXPORT(veltpng, l), RESULT_WORDS * 4); });
  if (trap != WASM_RT_TRAP_NONE || in.result_offset == 0 ||
      !in.module.in_memory(in.result_offset, RESULT_WORDS * 4))
    in.broken = true;
}

SandboxedPngDecoder::~SandboxedPngDecoder() = default;

bool SandboxedPngDecoder::decode(const std::string& path, unsigned max_side,
                                 DecodedPicture* picture, std::string* error) {
  Instance& in = *instance_;
  if (in.broken) {
    const std::string& unavailable = in.module.unavailable();
    *error = path + ": the PNG decoder module " +
             (unavailable.empty() ? "is not usable after an earlier fault" : unavailable);
    return false;
  }
  const uint64_t path_size = uint64_t(path.size()) + 1;
  uint32_t code = 0;
  bool copied = false;
  in.granted = path;
  wasm_rt_trap_t trap = in.module.call([&] {
    if (path_size > in.path_capacity) {
      if (in.path_offset != 0) in.module.invoke(VELT_EXPORT(veltpng, k), in.path_offset);
      in.path_capacity = 0;
      in.path_offset = path_size > UINT32_MAX
                           ? 0
                           : in.module.invoke(VELT_EXPORT(veltpng, l), uint32_t(path_size));
      if (in.path_offset == 0 || !in.module.in_memory(in.path_offset, path_size)) {
        in.path_offset = 0;
        return;
      }
      in.path_capacity = uint32_t(path_size);
    }
    std::memcpy(in.module.memory()->data + in.path_offset, path.c_str(), path_size);
    copied = true;
    code = in.module.invoke(VELT_EXPORT(veltpng, d), in.path_offset, in.result_offset, max_side);
  });
  in.granted.clear();
  if (trap != WASM_RT_TRAP_NONE) {
    in.broken = true;
    *error = path + ": the PNG decoder module stopped: " + wasm_rt_strerror(trap);
    return false;
  }
  if (!copied) {
    *error = path + ": the PNG decoder module has no memory for the path";
    return false;
  }
  if (code != 0) {
    *error = path + ": " + decoder_error_text(code);
    return false;
  }

  // everything the module reports is checked before the host uses it
  const uint8_t* data = in.module.memory()->data;
  const uint8_t* result = data + in.result_offset;
  const uint32_t width = load_u32(result);
  const uint32_t height = load_u32(result + 4);
  const uint32_t pixels = load_u32(result + 8);
  const uint64_t size = uint64_t(width) * height * 4;
  bool sane = width > 0 && height > 0 && width <= max_side && height <= max_side && pixels != 0 &&
              in.module.in_memory(pixels, size);
  if (sane) {
    picture->width = width;
    picture->height = height;
    picture->rgba.assign(data + pixels, data + pixels + size);
  }
  if (pixels != 0 && in.module.release(pixels) != WASM_RT_TRAP_NONE) in.broken = true;
  if (!sane) {
    in.broken = true;
    *error = path + ": the PNG decoder module reported a picture outside its memory";
    return false;
  }
  return true;
}
