// libFuzzer target for the reader: any bytes, read in every block mode. An
// accepted layout must tile the file exactly, and then every frame record
// is applied to a picture.
#include <cstdlib>

#include "velt_format.h"
#include "velt_reader.h"

namespace {

void check_layout(const VeltLayout& layout, size_t size) {
  if (layout.records.size() != size_t(layout.header.frame_count) + 1) abort();
  uint64_t offset = VELT_HEADER_SIZE;
  for (const FrameRecordSpan& span : layout.records) {
    if (span.offset != offset) abort();
    offset += span.size;
  }
  if (offset != size) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (int mode = MODE_OPAQUE; mode <= MODE_ALPHA12; ++mode) {
    VeltLayout layout;
    ReadError error;
    if (!read_velt_layout(data, size, BlockMode(mode), &layout, &error)) {
      // one line, and never past the end of the file
      if (error.offset > size || error.reason.empty() ||
          error.reason.find('\n') != std::string::npos)
        abort();
      continue;
    }
    check_layout(layout, size);
    std::vector<uint8_t> picture;
    for (size_t i = 0; i < layout.records.size(); ++i) apply_frame_record(data, layout, i, &picture);
    // a file without flags reads the same in every mode
    if (!layout.header.flags_marked) break;
  }
  return 0;
}
