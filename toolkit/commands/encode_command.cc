// velt encode: PNG frames from a pattern or a directory into a VELT file,
// through the same sandboxed module entry as velt-encode, with a progress bar
// instead of velt-encode's console.
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>

#include "block_mode_names.h"
#include "command_line.h"
#include "commands.h"
#include "encoder_failure.h"
#include "encoding_call.h"
#include "frame_input.h"
#include "input_options.h"
#include "input_reader.h"
#include "parallel_encode.h"
#include "part_join.h"
#include "progress_bar.h"
#include "velt_encoder.h"

namespace {

constexpr long DEFAULT_FPS = 20;
// The header keeps 2 * fps - 1 in a byte whose bit 7 also marks that flags were
// set, so a reader tells the rate apart from the mark only up to 64 fps.
constexpr long MAX_FPS = 64;
constexpr long MAX_JOBS = 256;

const char kHelp[] =
    "Usage: velt encode INPUT OUT.velt [--fps N] [--mode MODE] [--tolerance N] [--pad]\n"
    "                   [--raw WxH] [--jobs N] [--quiet]\n"
    "       velt encode INPUT PART --part K/N [--fps N] [--mode MODE] [--tolerance N]\n"
    "                   [--pad] [--raw WxH] [--quiet]\n"
    "\n"
    "Encodes PNG frames, a GIF or an animated PNG into one looping VELT\n"
    "animation. Every input is decoded and encoded inside the sandboxed encoder\n"
    "module.\n"
    "\n"
    "INPUT is one of:\n"
    "  a pattern in which every X stands for the frame number, as velt-encode\n"
    "    takes it: frame_X.png is frame_0.png, frame_1.png, ... up to the first gap\n"
    "  a printf-style pattern with one %d or %0Nd, such as frames/%04d.png: from\n"
    "    the first of the numbers 0 to 4 that exists up to the first gap\n"
    "  a directory: its .png files in natural order (frame2 before frame10)\n"
    "  one file: a GIF or an animated PNG (told by its first bytes, not its\n"
    "    name) gives every frame, padded and held at one rate (below); any other\n"
    "    PNG is the one frame\n"
    "  -: PNG images one after the other on standard input, as\n"
    "    ffmpeg -i clip.mp4 -f image2pipe -c:v png - writes them, or with --raw\n"
    "    raw RGBA frames (ffmpeg ... -f rawvideo -pix_fmt rgba -)\n"
    "Every frame has the first frame's size, a multiple of 4 below 1024 each way\n"
    "(after --pad). A frame path that exists but is not a regular file, or cannot\n"
    "be looked at, is an error rather than the end of the frames; so are more\n"
    "than 65535 frames.\n"
    "\n"
    "A GIF or animated PNG gives each frame a delay; a VELT file has one rate.\n"
    "Delays under 20 ms are taken as 100 ms, as browsers show them. The rate is\n"
    "the smallest from 1 to 64 fps at which every delay is a whole number of\n"
    "periods within 3 % of itself or 1 ms, whichever is more, else the highest\n"
    "rate whose period is no shorter than the shortest delay; each frame is then\n"
    "held for its delay in periods, rounded, at least one. The rate, the\n"
    "largest timing error and the padding are printed on standard error. --fps\n"
    "sets the rate instead. The loop count is not kept: VELT files always loop.\n"
    "\n"
    "Options:\n"
    "  --fps N       whole frames per second, 1 to 64: the rates a reader can\n"
    "                tell from the header; default 20, or an animation's own rate\n"
    "  --mode MODE   block records:\n"
    "                  opaque    8 bytes, four colours (default)\n"
    "                  alpha     8 bytes, pixels with alpha below 128 transparent\n"
    "                  opaque12  12 bytes, three colours\n"
    "                  alpha12   12 bytes, four alpha levels per pixel\n"
    "  --tolerance N store a block again only when it would look more than N\n"
    "                levels (0 to 64) different from what is shown: every shown\n"
    "                pixel then stays within its record's own error plus N of its\n"
    "                source, in each channel over any background. Default 0: every\n"
    "                block that changed at all, as velt-encode-flags does. About\n"
    "                12 suits screen recordings, 7 camera footage\n"
    "  --pad         pad the right and bottom edges to a multiple of 4: with\n"
    "                transparent pixels in modes alpha and alpha12, with copies of\n"
    "                the last column and row in the opaque modes. Always on for a\n"
    "                GIF or animated PNG\n"
    "  --raw WxH     INPUT - holds raw RGBA frames of W x H pixels, W*H*4 bytes each\n"
    "  -j, --jobs N  encode on N cores at once, each worker process taking a run\n"
    "                of frames; default: the number of online processors. --jobs 1\n"
    "                encodes in this process alone\n"
    "  --part K/N    encode only part K (0 to N-1) of N into the part file PART,\n"
    "                for 'velt join' to join with the other parts: the parts of\n"
    "                a sequence may be encoded on different machines\n"
    "  -q, --quiet   no progress bar (it is only drawn when standard error is a\n"
    "                terminal)\n"
    "  -h, --help    show this help\n"
    "\n"
    "Without --tolerance and --pad, the file is byte for byte what\n"
    "velt-encode-flags writes for the same PNG frames with flags 0, 1, 2 or 3\n"
    "(the modes in the order above).\n"
    "For any tolerance, it is the same for any --jobs, and so is the file that\n"
    "'velt join' makes of the N parts. On success nothing is printed but the\n"
    "progress bar and an animation's timing; a failure is one line on standard\n"
    "error.\n";

const CommandSyntax kSyntax = {"encode",
                               {{"fps", 0, true},
                                {"mode", 0, true},
                                {"tolerance", 0, true},
                                {"pad", 0, false},
                                {"raw", 0, true},
                                {"jobs", 'j', true},
                                {"part", 0, true},
                                {"quiet", 'q', false}},
                               {"INPUT", "OUT.velt"},
                               kHelp};

// Counts frames from the files the module opens. The decoder may open a
// file more than once, so a frame counts when its path differs from the open
// before it; frame 0 opened again after other frames is the closing frame,
// by which time every source frame is done.
class FrameProgress {
 public:
  FrameProgress(const std::vector<std::string>& module_paths, ProgressBar* bar) : bar_(bar) {
    for (size_t i = 0; i < module_paths.size(); ++i)
      index_.emplace(module_paths[i], static_cast<int>(i));
    total_ = static_cast<int>(module_paths.size());
  }

  void opened(const char* path, bool success) {
    bool same_as_before = last_path_ == path;
    last_path_ = path;
    if (!success || same_as_before) return;
    auto found = index_.find(last_path_);
    if (found == index_.end()) return;
    int frame = found->second;
    if (frame == 0 && started_) {
      bar_->update(total_);
    } else {
      bar_->update(frame);
    }
    started_ = true;
  }

 private:
  ProgressBar* bar_;
  std::unordered_map<std::string, int> index_;
  int total_ = 0;
  std::string last_path_;
  bool started_ = false;
};

// Resolves the fps, mode and tolerance options; 0 or a usage error status.
// Without --fps, *fps is 0: an animation's own rate, or DEFAULT_FPS.
int read_settings(const ParsedArguments& parsed, long* fps, BlockMode* mode, long* tolerance) {
  std::string mode_name = parsed.value_or("mode", "opaque");
  std::optional<BlockMode> named = block_mode_from_name(mode_name);
  if (!named)
    return report_usage_error(
        "encode", "unknown mode '" + mode_name + "': use opaque, alpha, opaque12 or alpha12");
  *mode = *named;
  *fps = 0;
  std::string fps_text = parsed.value_or("fps", "");
  std::optional<long> parsed_fps = parse_number(fps_text, 1, MAX_FPS);
  if (!parsed.has("fps")) parsed_fps = 0;
  if (!parsed_fps)
    return report_usage_error("encode", "--fps takes a whole number from 1 to " +
                                            std::to_string(MAX_FPS) + ", not '" + fps_text + "'");
  *fps = *parsed_fps;
  std::string tolerance_text = parsed.value_or("tolerance", "0");
  std::optional<long> parsed_tolerance = parse_number(tolerance_text, 0, VELT_MAX_TOLERANCE);
  if (!parsed_tolerance)
    return report_usage_error("encode", "--tolerance takes a whole number of levels from 0 to " +
                                            std::to_string(VELT_MAX_TOLERANCE) + ", not '" +
                                            tolerance_text + "'");
  *tolerance = *parsed_tolerance;
  return EXIT_OK;
}

// Resolves --jobs and --part; 0 or a usage error status. `part_count` is 0
// without --part.
int read_sharing(const ParsedArguments& parsed, long* jobs, long* part, long* part_count) {
  long online = sysconf(_SC_NPROCESSORS_ONLN);
  std::string jobs_text = parsed.value_or("jobs", std::to_string(online > 0 ? online : 1));
  std::optional<long> parsed_jobs = parse_number(jobs_text, 1, MAX_JOBS);
  if (!parsed_jobs)
    return report_usage_error("encode", "--jobs takes a whole number from 1 to " +
                                            std::to_string(MAX_JOBS) + ", not '" + jobs_text + "'");
  *jobs = *parsed_jobs;
  *part_count = 0;
  if (!parsed.has("part")) return EXIT_OK;
  if (parsed.has("jobs"))
    return report_usage_error("encode", "--part encodes one part in one process: leave out --jobs");
  std::string text = parsed.value_or("part", "");
  size_t slash = text.find('/');
  std::optional<long> k, n;
  if (slash != std::string::npos) {
    n = parse_number(text.substr(slash + 1), 1, MAX_INPUT_FRAMES);
    if (n) k = parse_number(text.substr(0, slash), 0, *n - 1);
  }
  if (!k)
    return report_usage_error("encode", "--part takes K/N, part K (0 to N-1) of N, not '" + text + "'");
  *part = *k;
  *part_count = *n;
  return EXIT_OK;
}

bool encoded(const EncodingOutcome& outcome) {
  return outcome.result == 0 && outcome.trap == WASM_RT_TRAP_NONE &&
         !outcome.out_of_module_memory && !outcome.tolerance_refused && !outcome.input_refused;
}

// One line on what became of an animation's timing, its size and its loop
// count, unless --quiet.
void describe_animation(const std::string& input, const InputProbe& probe) {
  const char* kind = probe.source_kind == VELT_SOURCE_GIF ? "GIF" : "animated PNG";
  std::string size = std::to_string(probe.source_width) + "x" + std::to_string(probe.source_height);
  if (probe.width != probe.source_width || probe.height != probe.source_height)
    size += " padded to " + std::to_string(probe.width) + "x" + std::to_string(probe.height);
  char error[32];
  std::snprintf(error, sizeof error, "%.1f", probe.timing_error_us / 1000.0);
  std::fprintf(stderr,
               "%s: %s of %d frames, %s; held at %d fps as %d frames, largest timing error %s "
               "ms; its loop count is not kept: a VELT file always loops\n",
               input.c_str(), kind, probe.source_frames, size.c_str(), probe.rate, probe.frames,
               error);
}

std::string failure_of(const EncodingOutcome& outcome, const std::string& output,
                       const std::function<std::string(int32_t)>& frame_path) {
  if (outcome.trap != WASM_RT_TRAP_NONE)
    return "encode: the encoder module stopped: " + std::string(wasm_rt_strerror(outcome.trap));
  if (!outcome.memory_refusal.empty())
    return "encode: the encoder module " + outcome.memory_refusal;
  if (outcome.out_of_module_memory) return "encode: the encoder module has no memory for the paths";
  if (outcome.tolerance_refused) return "encode: the encoder module refused the tolerance";
  if (outcome.input_refused) return "encode: the encoder module refused the input settings";
  return "encode: " + encoder_failure_message(outcome, output, frame_path);
}

}  // namespace

int run_encode_command(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  if (std::optional<int> done = parse_command(kSyntax, args, &parsed)) return *done;
  const std::string& input = parsed.positional[0];
  const std::string& output = parsed.positional[1];
  long fps = 0;
  BlockMode mode = MODE_OPAQUE;
  long tolerance = 0;
  if (int status = read_settings(parsed, &fps, &mode, &tolerance); status != EXIT_OK)
    return status;
  long jobs = 1, part = 0, part_count = 0;
  if (int status = read_sharing(parsed, &jobs, &part, &part_count); status != EXIT_OK)
    return status;

  const bool from_stdin = input == "-";
  InputSettings settings;
  if (int status = read_input_settings("encode", parsed, from_stdin, &settings); status != EXIT_OK)
    return status;
  FrameInput frames;
  SpooledFrames spooled;
  std::string error;
  if (from_stdin) {
    // the stream is kept in an unnamed file, whose frames the module reads as files
    if (!spool_standard_input(settings, &spooled, &error)) return report_failure("encode: " + error);
    frames.kind = FrameInputKind::DIRECTORY;
  } else if (!resolve_frame_input(input, &frames, &error)) {
    return report_failure(error);
  }
  // one file may be an animation, which the module finds by its first bytes
  if (frames.kind == FrameInputKind::SINGLE_FILE) settings.kind = VELT_INPUT_ANIMATION;

  // the frames reach the module as the list just made, which the host maps
  // names of its own pattern onto: a frame deleted from it during the run is
  // a failure, whatever the input's form and the number of jobs
  const std::string x_pattern = frames.kind == FrameInputKind::X_PATTERN ? input : "";
  int32_t frame_count = int32_t(from_stdin ? spooled.frames.size() : frames.frames.size());

  EncodingRequest request{x_pattern.c_str(), output.c_str(), 0, static_cast<int32_t>(mode)};
  request.frames = &frames.frames;
  if (from_stdin) request.spooled = &spooled;
  request.non_regular_output = AtomicFile::NonRegular::COPY_ON_COMMIT;
  request.tolerance = static_cast<int32_t>(tolerance);
  request.input = settings;
  PartSplit split{};
  EncodingRequest::PartRange range{};
  auto set_part = [&] {
    split = split_frames(frame_count, int32_t(part), int32_t(part_count), int32_t(tolerance));
    range = {split.first, split.end, split.closing};
    request.part = &range;
  };
  if (part_count > 0) set_part();
  // confined before the first call into a module (the probe of an
  // animation): the output, and the parts of a parallel run, are made first;
  // an animation's frame count is known only from the probe
  const bool animation = settings.kind == VELT_INPUT_ANIMATION;
  const bool may_share = part_count == 0 && jobs > 1 && (frame_count > 1 || animation);
  ConfinementPolicy policy;
  policy.program = "velt: encode";
  policy.fault_role = "encode";
  policy.role = may_share ? FilterRole::PARENT_OF_WORKERS : FilterRole::RUN;
  request.confine = &policy;
  OutputGrant prepared;
  prepare_output(request, &prepared);
  std::vector<int> part_fds;
  const int part_files = int(animation ? jobs : std::min<long>(jobs, frame_count));
  if (may_share && !open_part_files(output, part_files, &part_fds, &error))
    return report_failure("encode: " + error);
  std::string refusal;
  if (!confine_for_run(request, &prepared, &refusal)) return report_failure("encode: " + refusal);
  bool animated = false;
  if (settings.kind == VELT_INPUT_ANIMATION) {
    // an animation's frames and rate, from its headers; a file that fails here
    // fails the run the same way, which reports it
    InputReader reader(listed_frame_grants(frames.frames, nullptr), kListedFramePattern, settings);
    InputProbe probe;
    if (reader.probe(int32_t(mode), int32_t(fps), &probe, &error) && probe.result == VELT_OK &&
        (probe.source_kind == VELT_SOURCE_GIF || probe.source_kind == VELT_SOURCE_APNG)) {
      animated = true;
      fps = probe.rate;
      frame_count = probe.frames;
      if (!parsed.has("quiet")) describe_animation(input, probe);
    }
  }
  if (fps == 0) fps = DEFAULT_FPS;
  if (animated && part_count > 0) set_part();  // over the held frames
  const bool parallel = may_share && frame_count > 1;
  auto frame_path = [&](int32_t n) {
    if (animated) return input + " (frame " + std::to_string(n) + ")";
    if (from_stdin) return "standard input (frame " + std::to_string(n) + ")";
    return size_t(n) < frames.frames.size() ? frames.frames[size_t(n)] : "?";
  };
  bool show_progress = !parsed.has("quiet") && isatty(STDERR_FILENO) == 1;

  if (parallel) {
    ProgressBar bar(stderr, frame_count, show_progress);
    int started = 0;
    ParallelRequest request{&frames.frames,
                            x_pattern,
                            output,
                            static_cast<int32_t>(fps),
                            static_cast<int32_t>(mode), static_cast<int>(jobs),
                            [&] { bar.update(++started); }};
    request.tolerance = static_cast<int32_t>(tolerance);
    request.input = settings;
    request.frame_count = frame_count;
    if (from_stdin) request.spooled = &spooled;
    request.output_grant = &prepared;
    request.part_fds = &part_fds;
    std::string failure;
    EncodingOutcome outcome = encode_in_workers(request, &failure);
    bar.finish();
    if (!failure.empty()) return report_failure("encode: " + failure);
    if (!encoded(outcome)) return report_failure(failure_of(outcome, output, frame_path));
    return EXIT_OK;
  }
  std::vector<std::string> module_paths;
  for (int32_t i = 0; i < (animated ? 1 : frame_count); ++i)
    module_paths.push_back(expand_x_pattern(kListedFramePattern, int64_t(i)));

  ProgressBar bar(stderr, frame_count, show_progress);
  FrameProgress progress(module_paths, &bar);
  FileServiceHooks hooks;
  hooks.on_open = [&](const char* path, bool opened) { progress.opened(path, opened); };
  hooks.console = [](int, const uint8_t*, size_t) {};  // the outcome says what went wrong

  EncodingConsole silent;
  request.fps = static_cast<int32_t>(fps);
  request.prepared_output = &prepared;
  EncodingOutcome outcome = run_encoding_call(request, silent, std::move(hooks));
  bar.finish();
  if (!encoded(outcome)) return report_failure(failure_of(outcome, output, frame_path));
  return EXIT_OK;
}
