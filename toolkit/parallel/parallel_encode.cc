#include "parallel_encode.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "atomic_file.h"
#include "frame_pattern.h"
#include "interrupt_cleanup.h"
#include "output_check.h"
#include "part_join.h"
#include "velt_encoder.h"

namespace {

// What a worker writes to its pipe: FRAME_STARTED for each frame it starts
// on, then its outcome once, as one WorkerMessage.
constexpr char FRAME_STARTED = 'F';
constexpr char OUTCOME = 'R';
constexpr size_t ERROR_TEXT_SIZE = 256;

struct WorkerMessage {
  char tag;
  int32_t trap;
  int32_t out_of_module_memory;
  uint32_t result;
  int32_t frames_encoded;
  int32_t failing_frame;
  int32_t file_complete;
  int32_t part_finished;
  char reason[RUN_REASON_SIZE];
  char output_error[ERROR_TEXT_SIZE];
  char memory_refusal[ERROR_TEXT_SIZE];
};

struct Worker {
  PartSplit split;
  int part_fd = -1;
  pid_t pid = -1;
  int pipe_fd = -1;  // the read end, -1 once the worker has closed it
  std::string received;
  bool has_outcome = false;
  WorkerMessage outcome{};
  int status = 0;
};

void copy_text(char* into, size_t size, const std::string& text) {
  std::snprintf(into, size, "%s", text.c_str());
}

// The worker process: encodes its part into `worker.part_fd` and tells the
// parent how it went. Never returns.
[[noreturn]] void run_worker(const ParallelRequest& request, const Worker& worker, int pipe_fd,
                             pid_t parent) {
  leave_interrupt_cleanup_to_parent();
  report_blocked_calls_as(nullptr);  // the parent reports a call the sandbox stops
  // a worker never outlives its run
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(EXIT_FAILURE);

  const PartSplit split = worker.split;
  int32_t next_frame = split.first;
  FileServiceHooks hooks;
  hooks.on_open = [&](const char* path, bool opened) {
    int64_t n = opened ? frame_number_of(kListedFramePattern, path) : -1;
    // frame 0 opened again for the closing record, or a frame before the
    // range, starts no frame of the part
    for (; n >= next_frame && n < split.end; ++next_frame) write_all(pipe_fd, &FRAME_STARTED, 1);
    if (request.worker_opened) request.worker_opened(path, opened);
  };
  hooks.console = [](int, const uint8_t*, size_t) {};

  EncodingRequest::PartRange range{split.first, split.end, split.closing};
  ConfinementPolicy policy;  // the parent reports for it
  policy.role = FilterRole::WORKER;
  policy.fault_role = "worker";
  // the parent has checked the output against the frames
  EncodingRequest call{"", request.output.c_str(), request.fps, request.flags};
  call.confine = &policy;
  call.frames = request.frames;
  call.spooled = request.spooled;
  call.part = &range;
  call.tolerance = request.tolerance;
  call.input = request.input;
  call.output_fd = worker.part_fd;
  EncodingConsole silent;
  EncodingOutcome outcome = run_encoding_call(call, silent, std::move(hooks));

  WorkerMessage message{};
  message.tag = OUTCOME;
  message.trap = outcome.trap;
  message.out_of_module_memory = outcome.out_of_module_memory;
  message.result = outcome.result;
  message.frames_encoded = outcome.report.frames_encoded;
  message.failing_frame = outcome.report.failing_frame;
  message.file_complete = outcome.report.file_complete;
  message.part_finished = outcome.output_kept;
  copy_text(message.reason, sizeof message.reason, outcome.report.reason);
  copy_text(message.output_error, sizeof message.output_error, outcome.output_error);
  copy_text(message.memory_refusal, sizeof message.memory_refusal, outcome.memory_refusal);
  _exit(write_all(pipe_fd, &message, sizeof message) ? EXIT_SUCCESS : EXIT_FAILURE);
}

// True when the worker's part is not simply its whole range: it failed,
// or its frames ended early. The workers of later frames are then of no use.
bool ends_the_run(const Worker& worker) {
  if (!worker.has_outcome) return true;
  const WorkerMessage& m = worker.outcome;
  return m.trap != WASM_RT_TRAP_NONE || m.out_of_module_memory || !m.part_finished ||
         m.result != VELT_OK || m.frames_encoded != worker.split.end - worker.split.first;
}

// Takes what the worker's pipe holds: frames started, then its outcome.
void take_messages(Worker& worker, const ParallelRequest& request) {
  char buffer[512];
  ssize_t got = read(worker.pipe_fd, buffer, sizeof buffer);
  if (got < 0 && errno == EINTR) return;
  if (got <= 0) {
    close(worker.pipe_fd);
    worker.pipe_fd = -1;
    waitpid(worker.pid, &worker.status, 0);
    return;
  }
  worker.received.append(buffer, size_t(got));
  size_t used = 0;
  while (used < worker.received.size() && !worker.has_outcome) {
    if (worker.received[used] == FRAME_STARTED) {
      ++used;
      if (request.frame_started) request.frame_started();
    } else if (worker.received.size() - used >= sizeof(WorkerMessage)) {
      std::memcpy(&worker.outcome, worker.received.data() + used, sizeof(WorkerMessage));
      worker.has_outcome = worker.outcome.tag == OUTCOME;
      used += sizeof(WorkerMessage);
    } else {
      break;
    }
  }
  worker.received.erase(0, used);
}

void stop_workers_after(std::vector<Worker>& workers, size_t index) {
  for (size_t k = index + 1; k < workers.size(); ++k)
    if (workers[k].pipe_fd >= 0) kill(workers[k].pid, SIGKILL);
}

std::string stopped_text(int status) {
  // a worker the system-call filter stops ends quietly with this status
  if ((WIFEXITED(status) && WEXITSTATUS(status) == blocked_call_status()) ||
      (WIFSIGNALED(status) && WTERMSIG(status) == SIGSYS))
    return "stopped by the sandbox at a system call it may not make (a fault in velt itself)";
  if (WIFSIGNALED(status)) {
    int signal = WTERMSIG(status);
    return "killed by signal " + std::to_string(signal) + " (" + strsignal(signal) + ")";
  }
  return "ended with status " + std::to_string(WEXITSTATUS(status)) + " and no report";
}

void close_parts(std::vector<Worker>& workers) {
  for (Worker& w : workers)
    if (w.part_fd >= 0) close(w.part_fd);
}

}  // namespace

bool open_part_files(const std::string& output, int count, std::vector<int>* fds,
                     std::string* error) {
  for (int k = 0; k < count; ++k) {
    int fd = open_unnamed_file_beside(output, error);
    if (fd < 0) {
      for (int opened : *fds) close(opened);
      fds->clear();
      *error = "cannot make a part file: " + *error;
      return false;
    }
    fds->push_back(fd);
  }
  return true;
}

EncodingOutcome encode_in_workers(const ParallelRequest& request, std::string* failure) {
  EncodingOutcome outcome;
  const std::vector<std::string>& frames = *request.frames;
  std::vector<int> given_parts = request.part_fds ? *request.part_fds : std::vector<int>{};
  AtomicFile own_out;
  AtomicFile& out = request.output_grant ? request.output_grant->file : own_out;
  if (request.output_grant) {
    const OutputGrant& grant = *request.output_grant;
    outcome.output_error = !grant.refusal.empty() ? grant.refusal : grant.error;
    if (outcome.output_error.empty() && out.fd() < 0) outcome.output_error = "it was not made";
  } else {
    // refused as a single run refuses it
    outcome.output_error = request.x_pattern.empty()
                               ? listed_output_conflict(frames, request.output)
                               : output_conflict(request.x_pattern, request.output);
    if (outcome.output_error.empty())
      out.open(request.output, &outcome.output_error, AtomicFile::NonRegular::COPY_ON_COMMIT);
  }
  const int32_t frame_count =
      request.frame_count >= 0 ? request.frame_count : int32_t(frames.size());
  const int32_t count = std::max(1, std::min<int32_t>(request.jobs, frame_count));
  // the part files made beforehand that no worker needs
  while (!given_parts.empty() &&
         (given_parts.size() > size_t(count) || !outcome.output_error.empty())) {
    close(given_parts.back());
    given_parts.pop_back();
  }
  if (!outcome.output_error.empty()) {
    outcome.result = VELT_ERR_OPEN_OUTPUT;
    outcome.report.failing_frame = -1;
    return outcome;
  }

  std::vector<Worker> workers(static_cast<size_t>(count));
  for (size_t k = 0; k < given_parts.size(); ++k) workers[k].part_fd = given_parts[k];
  const pid_t parent = getpid();
  for (int32_t k = 0; k < count; ++k) {
    Worker& w = workers[size_t(k)];
    w.split = split_frames(frame_count, k, count, request.tolerance);
    std::string error;
    if (w.part_fd < 0) w.part_fd = open_unnamed_file_beside(request.output, &error);
    int ends[2] = {-1, -1};
    if (w.part_fd < 0 || pipe2(ends, O_CLOEXEC) != 0) {
      *failure = "cannot make a part file: " + (w.part_fd < 0 ? error : std::strerror(errno));
    } else {
      fflush(nullptr);  // nothing buffered is written twice
      w.pid = fork();
      if (w.pid == 0) {
        close(ends[0]);
        run_worker(request, w, ends[1], parent);
      }
      close(ends[1]);
      w.pipe_fd = ends[0];
      if (w.pid < 0) {
        close(w.pipe_fd);
        w.pipe_fd = -1;
        *failure = std::string("cannot start a worker: ") + std::strerror(errno);
      }
    }
    if (!failure->empty()) {
      stop_workers_after(workers, size_t(-1));  // every one started
      for (Worker& started : workers)
        if (started.pipe_fd >= 0) {
          close(started.pipe_fd);
          waitpid(started.pid, nullptr, 0);
        }
      close_parts(workers);
      return outcome;
    }
  }

  // until every worker has closed its pipe: progress, outcomes, and the
  // workers a failure or an early end makes useless
  for (;;) {
    std::vector<pollfd> polled;
    std::vector<size_t> which;
    for (size_t k = 0; k < workers.size(); ++k) {
      if (workers[k].pipe_fd < 0) continue;
      polled.push_back({workers[k].pipe_fd, POLLIN, 0});
      which.push_back(k);
    }
    if (polled.empty()) break;
    if (poll(polled.data(), polled.size(), -1) < 0) continue;
    for (size_t i = 0; i < polled.size(); ++i) {
      if (polled[i].revents == 0) continue;
      Worker& w = workers[which[i]];
      take_messages(w, request);
      if (w.pipe_fd < 0 && ends_the_run(w)) stop_workers_after(workers, which[i]);
    }
  }

  // the workers' outcomes in frame order, up to the part that ends the file
  std::vector<PartInfo> parts;
  for (size_t k = 0; k < workers.size(); ++k) {
    const Worker& w = workers[k];
    const WorkerMessage& m = w.outcome;
    if (!w.has_outcome) {
      *failure = "the worker of part " + std::to_string(k) + " was " + stopped_text(w.status);
    } else if (m.trap != WASM_RT_TRAP_NONE || m.out_of_module_memory || !m.part_finished) {
      outcome.trap = static_cast<wasm_rt_trap_t>(m.trap);
      outcome.out_of_module_memory = m.out_of_module_memory != 0;
      outcome.result = m.result;
      outcome.report = {int32_t(m.result), m.frames_encoded, m.failing_frame, 0,
                        std::string(m.reason, strnlen(m.reason, sizeof m.reason))};
      outcome.output_error = std::string(m.output_error, strnlen(m.output_error, ERROR_TEXT_SIZE));
      outcome.memory_refusal =
          std::string(m.memory_refusal, strnlen(m.memory_refusal, ERROR_TEXT_SIZE));
      if (outcome.result == VELT_OK) outcome.result = VELT_ERR_WRITE;  // unfinished all the same
    } else {
      PartInfo part;
      std::string error;
      if (!check_part({"part " + std::to_string(k), "", w.part_fd}, &part, &error)) {
        *failure = "the encoder module wrote a damaged part: " + error;
      } else {
        parts.push_back(part);
        if (part.closing) break;
        continue;
      }
    }
    close_parts(workers);
    return outcome;
  }

  JoinPlan plan;
  std::string error;
  bool joined = plan_join(parts, &plan, &error);
  if (!joined && plan.changed_frame >= 0) {
    // a frame replaced while the workers read it: the workers on either side
    // of a boundary (or two workers, for frame 0) saw different pictures
    outcome.result = VELT_ERR_FRAME_CHANGED;
    const int32_t window_first = velt_part_first_read(plan.changed_frame + 1, request.tolerance);
    std::string reason = plan.changed_frame == 0
                             ? "the workers read different pictures of it"
                             : "the workers on either side of it read different pictures";
    if (window_first < plan.changed_frame)
      reason += " of it or of a frame from frame " + std::to_string(window_first) + " on";
    outcome.report = {VELT_ERR_FRAME_CHANGED, 0, plan.changed_frame, 0, reason};
  } else if (!joined) {
    *failure = "cannot join the parts: " + error;
  } else {
    bool write_failed = false;
    joined = write_join(parts, plan, out.fd(), &write_failed, &error);
    if (write_failed) {
      outcome.result = VELT_ERR_WRITE;
      outcome.output_error = error;
    } else if (!joined) {
      *failure = "the encoder module wrote parts that do not join: " + error;
    }
  }
  close_parts(workers);
  if (!joined) return outcome;
  outcome.result = uint32_t(plan.last->result);
  outcome.report = {plan.last->result, plan.frame_count, plan.last->failing_frame, 1,
                    plan.last->reason};
  outcome.output_kept = out.commit(&outcome.output_error);
  if (!outcome.output_kept) outcome.result = VELT_ERR_WRITE;
  return outcome;
}
