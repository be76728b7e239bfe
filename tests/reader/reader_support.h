// Reading files in the reader tests: every read gets a fresh allocation of
// exactly the file's size, so a sanitizer sees any read past its end.
#ifndef VELT_TESTS_READER_SUPPORT_H
#define VELT_TESTS_READER_SUPPORT_H

#include <cstring>
#include <memory>
#include <vector>

#include "velt_reader.h"

namespace reader_support {

// A copy of `bytes` in its own allocation, for read_velt_layout and
// apply_frame_record.
class FileCopy {
 public:
  explicit FileCopy(const std::vector<uint8_t>& bytes)
      : size_(bytes.size()), data_(new uint8_t[bytes.size()]) {
    if (size_ > 0) memcpy(data_.get(), bytes.data(), size_);
  }
  const uint8_t* data() const { return data_.get(); }
  size_t size() const { return size_; }
  bool read(BlockMode mode, VeltLayout* layout, ReadError* error) const {
    return read_velt_layout(data_.get(), size_, mode, layout, error);
  }

 private:
  size_t size_;
  std::unique_ptr<uint8_t[]> data_;
};

}  // namespace reader_support

#endif
