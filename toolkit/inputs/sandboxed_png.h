// PNG decoding inside the sandboxed PNG module: the host hands it a path and
// copies the pixels out only after checking where the module says they are.
#ifndef VELT_TOOLKIT_SANDBOXED_PNG_H
#define VELT_TOOLKIT_SANDBOXED_PNG_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct DecodedPicture {
  unsigned width = 0;
  unsigned height = 0;
  std::vector<uint8_t> rgba;  // width * height * 4 bytes, rows from the top
};

// One module instance, reused for every file. It may read only the file it
// is decoding at the time.
class SandboxedPngDecoder {
 public:
  SandboxedPngDecoder();
  ~SandboxedPngDecoder();
  SandboxedPngDecoder(const SandboxedPngDecoder&) = delete;
  SandboxedPngDecoder& operator=(const SandboxedPngDecoder&) = delete;

  // Decodes `path` to 8-bit RGBA. Pictures wider or higher than `max_side`
  // are refused before they are decoded. Returns false with `error` set
  // ("PATH: reason"); after a trap in the module every later call fails.
  bool decode(const std::string& path, unsigned max_side, DecodedPicture* picture,
              std::string* error);

 private:
  struct Instance;
  std::unique_ptr<Instance> instance_;
};

#endif
