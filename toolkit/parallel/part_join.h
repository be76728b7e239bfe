// Joining part files (velt_part_format.h) into the VELT file a single run
// writes. Nothing is written before every part has been checked whole: its
// header's fields, its size and its hash over records and header, then that
// the parts come from one sequence and chain frame by frame. Only then is
// the file written, and it is read back with the reader's layout check
// before the caller may keep it. A part is open only while it is read, so
// any number of parts can be joined.
#ifndef VELT_TOOLKIT_PART_JOIN_H
#define VELT_TOOLKIT_PART_JOIN_H

#include <cstdint>
#include <string>
#include <vector>

#include "velt_part_format.h"

// Where a part is read from: its path, opened whenever it is read, or a
// descriptor that the caller keeps open for the whole join and that nothing
// else writes to (the unnamed part of a worker).
struct PartSource {
  std::string name;  // for messages: the path (printable_text), or "part K" of a worker
  std::string path;  // opened when fd is -1
  int fd = -1;
};

// A part's header, as read and checked.
struct PartInfo {
  PartSource source;
  uint32_t mode = 0;
  uint32_t tolerance = 0;         // levels
  uint32_t refresh_interval = 0;  // frames
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
  uint64_t hash = 0;   // velt_part_file_hash of the whole part
  std::string reason;  // the header's reason, as it stands: printable_text it to show it
};

// The frames [first, end) of part `index` of `count` of a sequence of
// `frame_count` frames: contiguous ranges of about equal work, counting
// frame 0 (every block stored) as two frames, the closing record as one and
// a half, and the reading of frame 0 and the frame before its range, which
// every part but the first does, as half a frame. That puts the boundary of
// part k at k (frame_count + 2) / count, rounded down: the middle parts hold
// (frame_count + 2) / count frames, the first half a frame fewer and the
// last one and a half fewer (it may hold the closing record alone). With a
// tolerance, a part reads every frame from the last refresh frame before it;
// so a part then starts right after a refresh frame when one lies within a
// quarter of a part of that boundary, which spares that reading.
struct PartSplit {
  int32_t first;
  int32_t end;
  bool closing;
};
PartSplit split_frames(int32_t frame_count, int32_t index, int32_t count, int32_t tolerance = 0);

// Reads and checks the part: its header (magic, version, fields that hold
// together, a payload that its frames' records can fill and that the file
// holds exactly), then its hash over the whole file. Opens the part from its
// path (and closes it again) unless the source gives a descriptor. Returns
// false with `error` ("NAME: REASON").
bool check_part(const PartSource& source, PartInfo* part, std::string* error);

// What a join is to write: parts[0, part_count) in frame order.
struct JoinPlan {
  size_t part_count = 0;
  int32_t frame_count = 0;         // source frames in the file
  const PartInfo* last = nullptr;  // the part with the closing record
  // When the plan is refused because two parts hold different pictures of
  // one frame (frame 0, or the frame before a part): that frame; else -1.
  int32_t changed_frame = -1;
};

// Puts checked `parts` (in any order) in frame order and checks that they
// come from one sequence (mode, rate, size, frame 0) and follow each other
// frame by frame from frame 0 to a part with the closing record, and that
// they hold at least one frame; parts after that one are not needed. Writes
// nothing. Returns false with a one-line `error`.
bool plan_join(std::vector<PartInfo>& parts, JoinPlan* plan, std::string* error);

// Writes the file of `plan` to `out_fd`, a regular file open for reading
// and writing (an AtomicFile opened with COPY_ON_COMMIT is one, whatever the
// output): the header, then each part's records. A part read from its path
// is hashed again on the way, since it may have changed since it was checked.
// Then the file is read back and must pass the reader's layout check in the
// parts' mode. Returns false with a one-line `error`; `write_failed` tells
// that the parts were fine but writing was not.
bool write_join(const std::vector<PartInfo>& parts, const JoinPlan& plan, int out_fd,
                bool* write_failed, std::string* error);

#endif
