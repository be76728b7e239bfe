#include "encoding_call.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "frame_pattern.h"
#include "module_host.h"
#include "output_check.h"
#include "velt_encoder.h"
#include "veltchecked.h"

namespace {

VELT_LIBRARY_MODULE_PAIR(EncoderModule, velt);

// The report's layout in module memory: four 32-bit words, then the reason.
constexpr uint32_t REPORT_WORDS = 4;
static_assert(sizeof(RunReport) == REPORT_WORDS * 4 + RUN_REASON_SIZE, "the module's layout");

// The module's report of the run it just made, checked to lie in its memory;
// a reason without its NUL inside the report is cut there.
bool read_run_report(PairedModuleHost<EncoderModule>& module, ModuleRunReport* report) {
  uint32_t offset = module.invoke(VELT_EXPORT(velt, q));
  if (offset == 0 || !module.in_memory(offset, REPORT_WORDS * 4 + RUN_REASON_SIZE)) return false;
  const uint8_t* at = module.memory()->data + offset;
  int32_t words[REPORT_WORDS];
  std::memcpy(words, at, sizeof words);  // the module's memory is little-endian, as the host is
  const char* reason = reinterpret_cast<const char*>(at + sizeof words);
  *report = {words[0], words[1], words[2], words[3],
             std::string(reason, strnlen(reason, RUN_REASON_SIZE))};
  return true;
}

// Grants reading `frame_count` frames under the names kListedFramePattern gives
// them, frame n as `grant_of(n)` serves it; the number just past the last is
// a missing frame. With a part, only frame 0 and the frames from the first
// one the part reads to its last are granted.
FileGrants numbered_frame_grants(size_t frame_count, const EncodingRequest::PartRange* part,
                                 int32_t tolerance, std::function<ReadGrant(size_t n)> grant_of) {
  const int64_t count = int64_t(frame_count);
  int64_t low = 0, high = count;  // the granted numbers besides frame 0
  if (part) {
    low = velt_part_first_read(part->first, tolerance);
    high = std::min<int64_t>(part->end, count);
  }
  FileGrants grants;
  grants.readable = [grant_of = std::move(grant_of), count, low, high](const std::string& path) {
    ReadGrant grant;
    int64_t n = frame_number_of(kListedFramePattern, path);
    if (n >= 0 && n < count && (n == 0 || (n >= low && n < high))) grant = grant_of(size_t(n));
    if (n == count) grant.kind = ReadGrant::MISSING;
    return grant;
  };
  return grants;
}

}  // namespace

const char kListedFramePattern[] = "frame_X.png";

FileGrants listed_frame_grants(const std::vector<std::string>& frames,
                               const EncodingRequest::PartRange* part, int32_t tolerance) {
  return numbered_frame_grants(frames.size(), part, tolerance, [&frames](size_t n) {
    return ReadGrant{ReadGrant::GRANTED, frames[n], true};
  });
}

FileGrants spooled_frame_grants(const SpooledFrames& spooled,
                                const EncodingRequest::PartRange* part, int32_t tolerance) {
  return numbered_frame_grants(spooled.frames.size(), part, tolerance, [&spooled](size_t n) {
    ReadGrant grant{ReadGrant::GRANTED, "", true};
    grant.slice = {spooled.fd, spooled.frames[n].offset, spooled.frames[n].length};
    return grant;
  });
}

std::vector<std::string> readable_frames(const EncodingRequest& request) {
  if (request.spooled) return {};  // read from the spool's open descriptor
  if (!request.frames) return pattern_frames(request.pattern);
  const std::vector<std::string>& frames = *request.frames;
  if (!request.part) return frames;
  std::vector<std::string> window;
  if (!frames.empty()) window.push_back(frames[0]);
  const int64_t low =
      std::max<int64_t>(1, velt_part_first_read(request.part->first, request.tolerance));
  const int64_t high = std::min<int64_t>(request.part->end, int64_t(frames.size()));
  for (int64_t n = low; n < high; ++n) window.push_back(frames[size_t(n)]);
  return window;
}

bool keeps_finished_file(uint32_t result) {
  switch (result) {
    case VELT_OK:
    case VELT_ERR_READ_FRAME:          // at a later frame: the module says so by
    case VELT_ERR_NOT_MULTIPLE_OF_4:   // reporting the file complete
    case VELT_ERR_SIZE_CHANGED:
    case VELT_ERR_DECODE_FRAME:
    case VELT_ERR_TOO_MANY_FRAMES:
      return true;
    default:
      return false;
  }
}

void prepare_output(const EncodingRequest& request, OutputGrant* output) {
  output->path = request.output;
  output->served_fd = request.output_fd;
  output->non_regular = request.non_regular_output;
  // a file the caller made was checked by it (and its process may be
  // confined already, with no right to look at paths)
  if (request.output_fd >= 0) return;
  // refused when the module opens it, which it does before any frame; a
  // pattern's own names first (frames from a stream have no names the
  // output could take)
  if (!request.spooled && (!request.frames || *request.pattern != '\0'))
    output->refusal = output_conflict(request.pattern, request.output);
  if (output->refusal.empty() && request.frames)
    output->refusal = listed_output_conflict(*request.frames, request.output);
}

bool confine_for_run(const EncodingRequest& request, OutputGrant* output, std::string* refusal) {
  // the output is made before the kernel's rules close the file system; a
  // failure waits for the module's open of it, which reports it as ever
  if (output->refusal.empty() && output->served_fd < 0 && output->file.fd() < 0 &&
      output->open_errno == 0 &&
      !output->file.open(output->path, &output->error, output->non_regular))
    output->open_errno = errno;
  ConfinementPolicy policy = *request.confine;
  policy.readable = readable_frames(request);
  policy.naming_directory = output->file.naming_directory();
  ConfinementLevel level;
  return confine_process(policy, &level, refusal);
}

EncodingOutcome run_encoding_call(const EncodingRequest& request, EncodingConsole& console,
                                  FileServiceHooks hooks) {
  EncodingOutcome outcome;
  OutputGrant own_output;
  OutputGrant& output = request.prepared_output ? *request.prepared_output : own_output;
  if (!request.prepared_output) prepare_output(request, &output);
  FileGrants grants =
      request.spooled  ? spooled_frame_grants(*request.spooled, request.part, request.tolerance)
      : request.frames ? listed_frame_grants(*request.frames, request.part, request.tolerance)
                       : pattern_grants(request.pattern);
  grants.output = &output;
  const char* pattern =
      request.frames || request.spooled ? kListedFramePattern : request.pattern;
  if (request.confine && !confined_for_runs() &&
      !confine_for_run(request, &output, &outcome.sandbox_refusal)) {
    outcome.result = VELT_ERR_OPEN_OUTPUT;  // never read as a success
    return outcome;  // the output's file goes unnamed with `output`
  }

  bool has_report = false;
  {
    console.instantiating();
    console.initialising();
    PairedModuleHost<EncoderModule> module(std::move(grants), std::move(hooks));
    outcome.trap = module.start_trap();
    if (!module.unavailable().empty()) {
      // no memory at all: the module's lack of memory, not a fault of its own
      outcome.trap = WASM_RT_TRAP_NONE;
      outcome.out_of_module_memory = true;
      outcome.memory_refusal = module.unavailable();
      console.memory_refused(outcome.memory_refusal);
    } else if (outcome.trap == WASM_RT_TRAP_NONE) {
      console.initialised(*module.memory());
      uint32_t pattern_at = module.copy_in(pattern, uint32_t(std::strlen(pattern) + 1), &outcome.trap);
      uint32_t output_at = 0;
      if (pattern_at != 0)
        output_at = module.copy_in(request.output, uint32_t(std::strlen(request.output) + 1),
                                   &outcome.trap);
      if (outcome.trap == WASM_RT_TRAP_NONE && output_at == 0) {
        outcome.out_of_module_memory = true;
        console.out_of_module_memory();
      } else if (outcome.trap == WASM_RT_TRAP_NONE) {
        console.calling();
        outcome.trap = module.call([&] {
          if (request.tolerance != 0 &&
              module.invoke(VELT_EXPORT(velt, s), uint32_t(request.tolerance)) != 0) {
            outcome.tolerance_refused = true;
            return;
          }
          const InputSettings& input = request.input;
          if (!input.is_default() &&
              module.invoke(VELT_EXPORT(velt, t), uint32_t(input.kind), input.pad ? 1u : 0u,
                            input.raw_width, input.raw_height) != 0) {
            outcome.input_refused = true;
            return;
          }
          if (const EncodingRequest::PartRange* part = request.part) {
            outcome.result = module.invoke(VELT_EXPORT(velt, r), pattern_at, output_at,
                                           uint32_t(request.flags), uint32_t(request.fps),
                                           uint32_t(part->first), uint32_t(part->end),
                                           part->closing ? 1u : 0u);
          } else {
            outcome.result = module.invoke(VELT_EXPORT(velt, m), pattern_at, output_at,
                                           uint32_t(request.flags), uint32_t(request.fps));
          }
          has_report = read_run_report(module, &outcome.report);
        });
      }
      if (outcome.trap == WASM_RT_TRAP_NONE && pattern_at != 0) outcome.trap = module.release(pattern_at);
      if (outcome.trap == WASM_RT_TRAP_NONE && output_at != 0) outcome.trap = module.release(output_at);
    }
  }  // the instance and its services go here, closing any file the module left open

  // what the module says of its file is its own affair; the host only keeps
  // it when the run ended as a finished file would
  bool finished = outcome.trap == WASM_RT_TRAP_NONE && has_report &&
                  outcome.report.file_complete == 1 && keeps_finished_file(outcome.result);
  outcome.output_error = output.error;
  if (request.output_fd >= 0) {
    outcome.output_kept = finished;  // the caller's file, to keep or drop
  } else if (finished) {
    outcome.output_kept = output.file.commit(&outcome.output_error);
    if (!outcome.output_kept) {
      outcome.result = VELT_ERR_WRITE;
      console.output_not_kept(request.output, outcome.output_error);
    }
  } else {
    output.file.discard();
  }
  if (outcome.trap == WASM_RT_TRAP_NONE && !outcome.out_of_module_memory)
    console.returned(outcome.result);
  return outcome;
}
