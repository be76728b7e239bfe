// Joining part files (velt_part_format.h) into the VELT file a single run
// writes: the parts are checked to come from one sequence and to chain frame
// by frame, then the file's header, their records in frame order and the
// closing record are written out.
#ifndef VELT_TOOLKIT_PART_JOIN_H
#define VELT_TOOLKIT_PART_JOIN_H

#include <cstdint>
#include <string>
#include <vector>

#include "velt_part_format.h"

// A part's header, as read and checked.
struct PartInfo {
  std::string name;  // for messages: the file's path, or "part K" of a worker
  int fd = -1;       // open for reading; the caller closes it
  uint32_t mode = 0;
  uint8_t velt_header[VELT_HEADER_SIZE] = {};
  int32_t first = 0;
  int32_t end = 0;
  bool closing = false;
  int32_t result = 0;
  int32_t failing_frame = -1;
  uint64_t frame0_hash = 0;
  uint64_t before_hash = 0;
  uint64_t last_hash = 0;
  uint64_t payload_size = 0;
  uint64_t payload_hash = 0;
  std::string reason;
};

// The frames [first, end) of part `index` of `count` of a sequence of
// `frame_count` frames: the frames are split into contiguous ranges whose
// sizes differ by one at most. The last part ends with the closing record.
struct PartSplit {
  int32_t first;
  int32_t end;
  bool closing;
};
PartSplit split_frames(int32_t frame_count, int32_t index, int32_t count);

// Reads and checks the header of the part open at `fd`: its magic, version,
// fields and that the file holds exactly the payload it announces. Returns
// false with `error` ("NAME: REASON").
bool read_part_header(int fd, const std::string& name, PartInfo* part, std::string* error);

// What a join wrote.
struct JoinResult {
  int32_t frame_count = 0;        // source frames in the file
  const PartInfo* last = nullptr;  // the part with the closing record
  bool write_failed = false;       // the parts were fine, writing the file was not
};

// Puts `parts` (in any order) into frame order and checks that they belong
// to one sequence (mode, header, frame 0) and follow each other frame by
// frame from frame 0 to a part with the closing record; parts after that one
// are not needed. Then writes the file to `out_fd`, checking each payload
// against its hash on the way. Returns false with a one-line `error`.
bool join_parts(std::vector<PartInfo>& parts, int out_fd, JoinResult* result, std::string* error);

#endif
