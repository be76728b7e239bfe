#include "sandbox_targets.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "encoder_input.h"
#include "png_bounded_decode.h"
#include "png_decoder.h"
#include "velt_encoder.h"
#include "velt_format.h"
#include "velt_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char kFramePattern[] = "frame_X.png";
const char kFrame0[] = "frame_0.png";
const char kFrame1[] = "frame_1.png";
const char kOutput[] = "out.velt";
const char kAnimation[] = "animation";
const char kNativeOutput[] = "native.velt";
const char kPngInput[] = "input.png";
const char kProbe[] = "probe.png";

// The highest code the encoder returns (frame 65535 exists).
constexpr uint32_t kLastResultCode = VELT_ERR_TOO_LONG;

// An 8x8 RGBA picture with a colour ramp and a translucent and a clear
// quarter, so that every block mode has work in it.
Bytes valid_frame_png() {
  const unsigned side = 8;
  Bytes rgba(side * side * 4);
  for (unsigned y = 0; y < side; ++y)
    for (unsigned x = 0; x < side; ++x) {
      uint8_t* p = &rgba[(y * side + x) * 4];
      p[0] = uint8_t(x * 32);
      p[1] = uint8_t(y * 32);
      p[2] = uint8_t(255 - x * y * 4);
      p[3] = x < 4 ? 255 : y < 4 ? 110 : 0;
    }
  unsigned char* png = nullptr;
  size_t size = 0;
  if (lodepng_encode32(&png, &size, rgba.data(), side, side) != 0) {
    fprintf(stderr, "cannot encode the valid frame\n");
    abort();
  }
  Bytes bytes(png, png + size);
  free(png);
  return bytes;
}

bool write_file(const std::string& path, const uint8_t* data, size_t size) {
  FILE* out = fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const bool written = size == 0 || fwrite(data, 1, size, out) == size;
  return fclose(out) == 0 && written;
}

Bytes read_file(const std::string& path) {
  Bytes bytes;
  FILE* in = fopen(path.c_str(), "rb");
  if (in == nullptr) return bytes;
  uint8_t buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, in)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + got);
  fclose(in);
  return bytes;
}

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// The native encoder, with what it prints on standard output thrown away.
int32_t run_native_encoder(const std::string& pattern, const std::string& output, int32_t flags,
                           int32_t fps) {
  fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (saved >= 0 && null >= 0) dup2(null, STDOUT_FILENO);
  if (null >= 0) close(null);
  const int32_t result = compress_video_wasm(pattern.c_str(), output.c_str(), flags, fps);
  fflush(stdout);
  if (saved >= 0) {
    dup2(saved, STDOUT_FILENO);
    close(saved);
  }
  return result;
}

// Checks that a kept output reads back whole in its mode, holds the frames
// the module reported, and that its closing record brings frame 0 back.
void check_kept_file(const Bytes& file, int32_t flags, const ModuleRunReport& report,
                     uint16_t* frames_in_file, std::vector<std::string>* faults) {
  VeltLayout layout;
  ReadError error;
  if (!read_velt_layout(file.data(), file.size(), BlockMode(flags & 3), &layout, &error)) {
    faults->push_back("the kept output does not read back: offset " + std::to_string(error.offset) +
                      ": " + error.reason);
    return;
  }
  *frames_in_file = layout.header.frame_count;
  if (layout.header.frame_count != report.frames_encoded)
    faults->push_back("the file holds " + std::to_string(layout.header.frame_count) +
                      " frames, the module reported " + std::to_string(report.frames_encoded));
  std::vector<uint8_t> picture, frame0;
  for (size_t i = 0; i < layout.records.size(); ++i) {
    apply_frame_record(file.data(), layout, i, &picture);
    if (i == 0) frame0 = picture;
  }
  if (picture != frame0) faults->push_back("the closing record does not give frame 0 again");
}

// Whether the image data that `png`'s header implies is more than the whole
// file could inflate to: deflate gives at most 1032 bytes for each byte (a
// 258-byte copy in two bits), and each pixel lies in one row of one pass.
bool claims_more_than_it_holds(const uint8_t* png, size_t size) {
  LodePNGState state;
  lodepng_state_init(&state);
  unsigned width = 0, height = 0;
  const bool known = lodepng_inspect(&width, &height, &state, png, size) == 0;
  const unsigned bits_per_pixel = lodepng_get_bpp(&state.info_png.color);
  lodepng_state_cleanup(&state);
  const unsigned __int128 image_bits = (unsigned __int128)width * height * bits_per_pixel;
  return known && image_bits / 8 > (unsigned __int128)size * 1032;
}

// Whether the header gives sides that are multiples of 4 but 1024 or more:
// such a frame is refused from its header, before it is decoded.
bool too_large_by_header(const uint8_t* png, size_t size) {
  LodePNGState state;
  lodepng_state_init(&state);
  unsigned width = 0, height = 0;
  const bool known = lodepng_inspect(&width, &height, &state, png, size) == 0;
  lodepng_state_cleanup(&state);
  return known && width % 4 == 0 && height % 4 == 0 &&
         (width > VELT_MAX_SIDE || height > VELT_MAX_SIDE);
}

// What the PNG module's entry does, natively: sides checked from the header,
// then bounded decoding. 0 or an error code.
unsigned decode_natively(const uint8_t* png, size_t size, unsigned max_side, Bytes* rgba,
                         unsigned* width, unsigned* height) {
  LodePNGState state;
  lodepng_state_init(&state);
  unsigned error = lodepng_inspect(width, height, &state, png, size);
  lodepng_state_cleanup(&state);
  if (error != 0) return error;
  if (*width > max_side || *height > max_side) return 1000;
  unsigned char* pixels = nullptr;
  error = decode_png_rgba(&pixels, width, height, png, size);
  if (error == 0) rgba->assign(pixels, pixels + size_t{*width} * *height * 4);
  free(pixels);
  return error;
}

std::string size_text(unsigned width, unsigned height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

}  // namespace

PrivateDirectory::PrivateDirectory() {
  // a kept output is synced to disk: on a disk that costs milliseconds a run
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : getenv("TMPDIR");
  if (base == nullptr || *base == '\0') base = "/tmp";
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    std::string name = std::string(base) + "/velt-sandbox-fuzz-XXXXXX";
    if (mkdtemp(&name[0]) == nullptr) break;
    if (name.find('X') == std::string::npos) {
      path_ = name;
    } else {
      rmdir(name.c_str());
    }
  }
  if (path_.empty()) {
    fprintf(stderr, "cannot make a private directory without 'X' in its path under %s\n", base);
    abort();
  }
}

PrivateDirectory::~PrivateDirectory() {
  for (const std::string& name : names()) unlink(file(name).c_str());
  rmdir(path_.c_str());
}

std::vector<std::string> PrivateDirectory::names() const {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path_.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

EncoderTarget::EncoderTarget() : valid_frame_(valid_frame_png()) {}

EncoderTargetRun EncoderTarget::run(const uint8_t* data, size_t size) {
  EncoderTargetRun run;
  std::vector<std::string>& faults = run.faults;
  const EncoderFuzzInput input = split_encoder_input(data, size);
  const std::string pattern = dir_.file(kFramePattern);
  const std::string output = dir_.file(kOutput);
  const std::string native_output = dir_.file(kNativeOutput);
  unlink(output.c_str());
  unlink(native_output.c_str());
  unlink(dir_.file(kFrame1).c_str());
  const bool written =
      input.after_valid_frame
          ? write_file(dir_.file(kFrame0), valid_frame_.data(), valid_frame_.size()) &&
                write_file(dir_.file(kFrame1), input.frame, input.frame_size)
          : write_file(dir_.file(kFrame0), input.frame, input.frame_size);
  if (!written) {
    faults.push_back("cannot write the frames into " + dir_.file(""));
    return run;
  }

  EncodingConsole silent;
  FileServiceHooks hooks;
  hooks.console = [](int, const uint8_t*, size_t) {};
  const EncodingOutcome& outcome = run.outcome =
      run_encoding_call({pattern.c_str(), output.c_str(), input.fps, input.flags}, silent, hooks);
  // the native decoder takes memory for the header's image data before it
  // inflates a byte, and in 64 bits it may take more than a fuzzer's malloc
  // limit: such a frame is left to the module, which must refuse it
  const bool cannot_decode = claims_more_than_it_holds(input.frame, input.frame_size);
  if (!cannot_decode)
    run.native_result = run_native_encoder(pattern, native_output, input.flags, input.fps);

  if (outcome.trap != WASM_RT_TRAP_NONE) {
    faults.push_back(std::string("the encoder module trapped: ") + wasm_rt_strerror(outcome.trap));
    return run;
  }
  if (outcome.out_of_module_memory) faults.push_back("no module memory for two short paths");
  const uint32_t result = outcome.result;
  const ModuleRunReport& report = outcome.report;
  if (result > kLastResultCode)
    faults.push_back("result " + std::to_string(result) + " is no failure code");
  // the output lies in a private directory: it can always be opened and written
  if (result == VELT_ERR_OPEN_OUTPUT || result == VELT_ERR_WRITE)
    faults.push_back("result " + std::to_string(result) +
                     " for a writable output: " + outcome.output_error);
  if (uint32_t(report.result) != result)
    faults.push_back("the module reported result " + std::to_string(report.result) +
                     ", the call returned " + std::to_string(result));
  const uint32_t undecodable =
      too_large_by_header(input.frame, input.frame_size)
          ? (input.after_valid_frame ? VELT_ERR_SIZE_CHANGED : VELT_ERR_TOO_LARGE)
          : (input.after_valid_frame ? VELT_ERR_DECODE_FRAME : VELT_ERR_READ_FRAME);
  if (cannot_decode && result != undecodable)
    faults.push_back("result " + std::to_string(result) +
                     " for a frame whose data cannot fill its header");
  if (!cannot_decode && int32_t(result) != run.native_result)
    faults.push_back("result " + std::to_string(result) + ", natively " +
                     std::to_string(run.native_result));

  // frame 0 is the input alone, or the valid frame before it
  const int32_t frames = input.after_valid_frame ? 2 : 1;
  const int32_t failing_frame = result == 0 ? -1 : frames - 1;
  if (report.failing_frame != failing_frame)
    faults.push_back("the module reported failing frame " + std::to_string(report.failing_frame) +
                     " for result " + std::to_string(result));
  const bool keep = result == 0 || (keeps_finished_file(result) && failing_frame > 0);
  if (outcome.output_kept != keep)
    faults.push_back(std::string(keep ? "no output kept" : "an output kept") + " for result " +
                     std::to_string(result) + " at frame " + std::to_string(report.failing_frame));
  if (exists(output) != outcome.output_kept)
    faults.push_back(std::string("the output ") + (outcome.output_kept ? "is missing" : "exists") +
                     " while output_kept is " + (outcome.output_kept ? "true" : "false"));
  if (outcome.output_kept) {
    const Bytes file = read_file(output);
    check_kept_file(file, input.flags, report, &run.frames_in_file, &faults);
    if (run.frames_in_file != frames - (result == 0 ? 0 : 1))
      faults.push_back("the file holds " + std::to_string(run.frames_in_file) + " frames");
    if (!cannot_decode && file != read_file(native_output))
      faults.push_back("the output differs from the native encoder's");
  }

  const std::set<std::string> ours = {kFrame0, kFrame1, kOutput, kNativeOutput};
  for (const std::string& name : dir_.names())
    if (ours.count(name) == 0) faults.push_back("a file left behind: " + name);
  return run;
}

AnimationTargetRun AnimationTarget::run(const uint8_t* data, size_t size) {
  AnimationTargetRun run;
  std::vector<std::string>& faults = run.faults;
  const int32_t flags = size > 0 ? data[0] & 3 : 0;
  const int32_t fps = size > 0 ? data[0] >> 2 : 0;
  const std::string path = dir_.file(kAnimation);
  const std::string output = dir_.file(kOutput), native_output = dir_.file(kNativeOutput);
  unlink(output.c_str());
  unlink(native_output.c_str());
  if (!write_file(path, size > 0 ? data + 1 : data, size > 0 ? size - 1 : 0)) {
    faults.push_back("cannot write " + path);
    return run;
  }
  InputSettings settings;
  settings.kind = VELT_INPUT_ANIMATION;
  std::string error;
  {
    InputReader reader(pattern_grants(path), path, settings);
    if (!reader.probe(flags, fps, &run.probe, &error)) {
      faults.push_back("the probe failed: " + error);
      return run;
    }
  }
  // a still PNG whose header claims more than its data holds may fail on
  // another check in 32 bits than in 64, or take more memory than a fuzzer
  // may natively (encoder fuzzer, above): it is left to the module alone
  const bool cannot_decode =
      claims_more_than_it_holds(size > 0 ? data + 1 : data, size > 0 ? size - 1 : 0);
  // natively, the same probe
  set_input(VELT_INPUT_ANIMATION, 0, 0, 0);
  InputReport native{};
  if (!cannot_decode) native = *probe_input(path.c_str(), flags, fps);
  const InputProbe& probe = run.probe;
  auto probed = [](int32_t result, int32_t frames, int32_t rate, uint32_t width, uint32_t height,
                   int32_t error_us, const std::string& reason) {
    return "result " + std::to_string(result) + ", " + std::to_string(frames) + " frames at " +
           std::to_string(rate) + " fps, " + size_text(width, height) + ", timing error " +
           std::to_string(error_us) + " us, reason '" + reason + "'";
  };
  const std::string in_module = probed(probe.result, probe.frames, probe.rate, probe.width,
                                  probe.height, probe.timing_error_us, probe.reason);
  const std::string natively = probed(native.result, native.frames, native.rate, native.width,
                                      native.height, native.timing_error_us, native.reason);
  if (cannot_decode && probe.result == VELT_OK)
    faults.push_back("probed a frame whose data cannot fill its header: " + in_module);
  if (!cannot_decode && in_module != natively)
    faults.push_back("probed " + in_module + "; natively " + natively);
  if (probe.result > int32_t(kLastResultCode))
    faults.push_back("probe result " + std::to_string(probe.result) + " is no failure code");

  // encoding every frame of a large canvas held long takes minutes: only
  // animations a fuzzer can afford are encoded, the rest are probed alone
  const uint64_t pixels = uint64_t(probe.width) * probe.height * uint64_t(std::max(probe.frames, 1));
  run.encoded = !cannot_decode && (probe.result != VELT_OK || pixels <= (uint64_t(1) << 22));
  const int32_t rate = probe.result == VELT_OK ? probe.rate : std::max(fps, 1);
  if (run.encoded) {
    EncodingConsole silent;
    FileServiceHooks hooks;
    hooks.console = [](int, const uint8_t*, size_t) {};
    EncodingRequest request{path.c_str(), output.c_str(), rate, flags};
    request.input = settings;
    run.outcome = run_encoding_call(request, silent, hooks);
    const int32_t native_result = run_native_encoder(path, native_output, flags, rate);
    const EncodingOutcome& outcome = run.outcome;
    if (outcome.trap != WASM_RT_TRAP_NONE) {
      faults.push_back(std::string("the encoder module trapped: ") + wasm_rt_strerror(outcome.trap));
    } else if (int32_t(outcome.result) != native_result) {
      faults.push_back("result " + std::to_string(outcome.result) + ", natively " +
                       std::to_string(native_result));
    } else if (outcome.output_kept) {
      uint16_t frames_in_file = 0;
      const Bytes file = read_file(output);
      check_kept_file(file, flags, outcome.report, &frames_in_file, &faults);
      if (file != read_file(native_output))
        faults.push_back("the output differs from the native encoder's");
    }
  }
  set_input(VELT_INPUT_FRAMES, 0, 0, 0);

  const std::set<std::string> ours = {kAnimation, kOutput, kNativeOutput};
  for (const std::string& name : dir_.names())
    if (ours.count(name) == 0) faults.push_back("a file left behind: " + name);
  return run;
}

PngModuleTarget::PngModuleTarget() {
  const Bytes probe = valid_frame_png();
  unsigned width = 0, height = 0;
  if (!write_file(dir_.file(kProbe), probe.data(), probe.size()) ||
      decode_natively(probe.data(), probe.size(), kMaxSide, &probe_rgba_, &width, &height) != 0) {
    fprintf(stderr, "cannot make the probe file in %s\n", dir_.file("").c_str());
    abort();
  }
}

PngTargetRun PngModuleTarget::run(const uint8_t* data, size_t size) {
  PngTargetRun run;
  std::vector<std::string>& faults = run.faults;
  const std::string path = dir_.file(kPngInput);
  if (!write_file(path, data, size)) {
    faults.push_back("cannot write " + path);
    return run;
  }
  run.decoded = decoder_.decode(path, kMaxSide, &run.picture, &run.error);

  DecodedPicture probe;
  std::string probe_error;
  if (!decoder_.decode(dir_.file(kProbe), kMaxSide, &probe, &probe_error) ||
      probe.rgba != probe_rgba_)
    faults.push_back("the decoder no longer decodes a valid file (" + probe_error +
                     "); this file gave: " + (run.decoded ? "decoded" : run.error));

  const DecodedPicture& picture = run.picture;
  if (run.decoded && (picture.width == 0 || picture.height == 0 || picture.width > kMaxSide ||
                      picture.height > kMaxSide ||
                      uint64_t(picture.width) * picture.height * 4 != picture.rgba.size()))
    faults.push_back("decoded " + size_text(picture.width, picture.height) + " in " +
                     std::to_string(picture.rgba.size()) + " bytes");

  Bytes native;
  unsigned width = 0, height = 0;
  const unsigned native_error = decode_natively(data, size, kMaxSide, &native, &width, &height);
  if (run.decoded != (native_error == 0)) {
    faults.push_back(run.decoded ? "decoded, natively refused: " +
                                       std::string(lodepng_error_text(native_error))
                                 : "refused (" + run.error + "), natively decoded");
  } else if (run.decoded &&
             (picture.width != width || picture.height != height || picture.rgba != native)) {
    faults.push_back("decoded " + size_text(picture.width, picture.height) +
                     " with other pixels than natively (" + size_text(width, height) + ")");
  }
  return run;
}

void abort_on_faults(const char* fuzzer, const std::vector<std::string>& faults) {
  if (faults.empty()) return;
  for (const std::string& fault : faults) fprintf(stderr, "%s: %s\n", fuzzer, fault.c_str());
  abort();
}
