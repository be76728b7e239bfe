// velt-bench-animation-decode: decodes every picture of a GIF or an animated
// PNG inside the encoder module, as velt compare reads them (the file's
// frames composited, padded to multiples of 4), once each however long it is
// held, and discards them, to time decoding inside the sandbox alone. Prints
// the frame count and a checksum of the pixels; with --rgba OUT it also
// writes each picture, cropped to the file's own size, to OUT as raw RGBA (-
// for standard output), to set beside what another decoder makes of the file.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "encoding_call.h"
#include "input_reader.h"
#include "velt_encoder.h"

namespace {

// The picture's 32-bit words added up: cheap next to decoding, so that the
// time is the module's. Each frame's sum is folded into the checksum in turn.
uint64_t frame_sum(const std::vector<uint8_t>& rgba) {
  uint64_t sum = 0;
  size_t words = rgba.size() / 8;
  for (size_t i = 0; i < words; i++) {
    uint64_t word;
    std::memcpy(&word, rgba.data() + 8 * i, 8);
    sum += (word & 0xFFFFFFFF) + (word >> 32);
  }
  for (size_t i = words * 8; i < rgba.size(); i++) sum += rgba[i];
  return sum;
}

// Writes the top-left width x height pixels of `picture`; false on a write error.
bool write_cropped(FILE* out, const InputPicture& picture, uint32_t width, uint32_t height) {
  for (uint32_t y = 0; y < height; y++) {
    const uint8_t* row = picture.rgba.data() + size_t(y) * picture.width * 4;
    if (std::fwrite(row, 4, width, out) != width) return false;
  }
  return true;
}

int usage(const char* program) {
  std::fprintf(stderr, "Usage: %s ANIMATION [--rgba OUT]\n", program);
  std::fputs("Decodes every frame of a GIF or animated PNG inside the encoder module and\n"
             "prints the frame count and a checksum; --rgba writes the frames as raw RGBA.\n",
             stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && !(argc == 4 && std::strcmp(argv[2], "--rgba") == 0)) return usage(argv[0]);
  const std::string path = argv[1];
  FILE* out = nullptr;
  if (argc == 4) {
    out = std::strcmp(argv[3], "-") == 0 ? stdout : std::fopen(argv[3], "wb");
    if (out == nullptr) {
      std::fprintf(stderr, "cannot write %s\n", argv[3]);
      return 1;
    }
  }

  InputSettings settings;
  settings.kind = VELT_INPUT_ANIMATION;
  const std::vector<std::string> files = {path};  // the grants read it while the reader lives
  InputReader reader(listed_frame_grants(files, nullptr), kListedFramePattern, settings);
  const int32_t flags = 0, fps = 0;  // opaque records, the animation's own rate
  InputProbe probe;
  std::string error;
  if (!reader.probe(flags, fps, &probe, &error)) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
    return 1;
  }
  if (probe.result != VELT_OK) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), probe.reason.c_str());
    return 1;
  }
  if (probe.source_kind != VELT_SOURCE_GIF && probe.source_kind != VELT_SOURCE_APNG) {
    std::fprintf(stderr, "%s: not a GIF or an animated PNG\n", path.c_str());
    return 1;
  }

  uint64_t sum = 0;
  InputPicture picture;
  // each picture once: the frames that hold it again are copies, not decoding
  for (int32_t n = 0; n < probe.frames; n = picture.next) {
    int32_t code = 0;
    if (reader.frame(flags, fps, n, &picture, &code, &error) != InputReader::FRAME_READ) {
      std::fprintf(stderr, "%s: frame %d: %s\n", path.c_str(), n, error.c_str());
      return 1;
    }
    sum = sum * 31 + frame_sum(picture.rgba);
    // the sizes come from the module: the crop must lie inside the picture
    if (out != nullptr && (probe.source_width > picture.width || probe.source_height > picture.height)) {
      std::fprintf(stderr, "%s: frame %d is smaller than the file's canvas\n", path.c_str(), n);
      return 1;
    }
    if (out != nullptr &&
        !write_cropped(out, picture, probe.source_width, probe.source_height)) {
      std::fprintf(stderr, "cannot write %s\n", argv[3]);
      return 1;
    }
  }
  if (out != nullptr && (out == stdout ? std::fflush(out) : std::fclose(out)) != 0) {
    std::fprintf(stderr, "cannot write %s\n", argv[3]);
    return 1;
  }
  std::fprintf(out == stdout ? stderr : stdout,
               "%s: %ux%u, %d source frames held as %d at %d fps, checksum %016" PRIx64 "\n",
               path.c_str(), probe.source_width, probe.source_height, probe.source_frames,
               probe.frames, probe.rate, sum);
  return 0;
}
