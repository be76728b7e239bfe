// Encoding one sequence on several cores: the frames are split into
// contiguous ranges, each encoded into a part by its own module instance in
// its own worker process, and the parts are joined into the output. The file
// is byte for byte the one a single run writes.
//
// Worker processes rather than threads: an instance's trap target and call
// depth counter are process-wide in the module runtime, so two instances
// cannot run at once in one process.
#ifndef VELT_TOOLKIT_PARALLEL_ENCODE_H
#define VELT_TOOLKIT_PARALLEL_ENCODE_H

#include <functional>
#include <string>
#include <vector>

#include "encoding_call.h"

struct ParallelRequest {
  const std::vector<std::string>* frames;  // the sequence's frame files, in order
  std::string x_pattern;  // the 'X' pattern they came from, or "" for frames of other names
  std::string output;
  int32_t fps;
  int32_t flags;
  int jobs;  // worker processes; at most one a frame is started
  // Told of each frame a worker has started on, from the parent process.
  std::function<void()> frame_started;
  // For tests: told in each worker process of every open its module asks
  // for, as FileServiceHooks::on_open is.
  std::function<void(const char* path, bool opened)> worker_opened = nullptr;
  int32_t tolerance = 0;  // as EncodingRequest::tolerance
  InputSettings input = {};  // as EncodingRequest::input
  // The frames of the run, when not one per listed file: an animation's held frames.
  int32_t frame_count = -1;
  // Frames spooled from a stream, in place of `frames` (then empty).
  const SpooledFrames* spooled = nullptr;
  // When set, the output as prepare_output and confine_for_run made it
  // (the parent confined itself with it), and unnamed part files, one a
  // worker at least, which the run then owns; else the run makes both.
  OutputGrant* output_grant = nullptr;
  std::vector<int>* part_fds = nullptr;
};

// Opens `count` unnamed files beside `output` for the parts of a run. False
// with `error` set (and nothing left open) when one cannot be made.
bool open_part_files(const std::string& output, int count, std::vector<int>* fds,
                     std::string* error);

// Runs the workers and joins their parts. The outcome reads as a single
// run's would: the first failure in frame order decides the result, the
// failing frame and the reason; a failure at a later frame still keeps the
// file up to it, with its closing record. A failing worker stops the workers
// of later frames; a signal that ends the parent ends every worker (they die
// with it), and no part file is ever left behind: parts live in unnamed files.
// Each worker confines itself before its module runs: its frames to read,
// its part's open file to write, nothing else.
// A frame that two workers read as different pictures (replaced during the
// run) fails the run with VELT_ERR_FRAME_CHANGED at that frame. A failure of
// the parallel run itself (no worker could be started, a worker died without
// a report, a part could not be joined) is set in `failure`. Either way the
// output is left as it was.
EncodingOutcome encode_in_workers(const ParallelRequest& request, std::string* failure);

#endif
