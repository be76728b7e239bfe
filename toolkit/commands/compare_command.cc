// velt compare: decodes a VELT file and measures each frame against its
// source frame, which is decoded inside the sandboxed PNG module.
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <utility>

#include "command_line.h"
#include "commands.h"
#include "confinement.h"
#include "frame_input.h"
#include "encoding_call.h"
#include "frame_quality.h"
#include "input_options.h"
#include "input_reader.h"
#include "output_check.h"
#include "png_writer.h"
#include "quality_heatmap.h"
#include "reading_help.h"
#include "sandboxed_png.h"
#include "velt_encoder.h"
#include "velt_file.h"
#include "velt_format.h"

namespace {

const char kHelp[] =
    "Usage: velt compare FILE.velt INPUT [--mode MODE] [--json] [--heatmap OUT.png]\n"
    "\n"
    "Decodes the animation and compares every frame with its source frame,\n"
    "per frame and over all frames. INPUT names the source frames as for velt\n"
    "encode: an X pattern, a printf-style pattern, a directory, one GIF or\n"
    "animated PNG file, or - for PNG images (or with --raw WxH raw RGBA frames)\n"
    "on standard input; with --pad when it was encoded with it. The source PNG\n"
    "files are decoded inside the sandboxed PNG module; an animation, or frames\n"
    "padded, inside the sandboxed encoder module, as velt encode reads them, at\n"
    "the file's rate.\n"
    "\n"
    "What a viewer sees: visible PSNR and visible SSIM measure both pictures\n"
    "composited over black and over white (colour times alpha), and report the\n"
    "worse of the two; a transparent pixel's colour does not count. SSIM is\n"
    "taken on luma (BT.601) in 8x8 windows every 4 pixels, and is 1 for an\n"
    "exact match. The worst visible block is the 4x4 block (by its top-left\n"
    "pixel) with the largest visible error. Max visible is the largest visible\n"
    "difference of any channel of any pixel, in levels (0 to 255), over the\n"
    "worse background: the figure that velt encode --tolerance bounds.\n"
    "\n"
    "What is stored: RGB PSNR and alpha PSNR measure the channels apart, every\n"
    "pixel counting, transparent ones too; the worst block is the one with the\n"
    "largest squared error over all four channels.\n"
    "\n"
    "An exact match shows as \"exact\" in the table and as null in JSON.\n"
    "\n"
    "--heatmap writes a PNG picture of the first source frame, over mid grey\n"
    "and dimmed, with each 4x4 block tinted by its visible error in that frame\n"
    "(mean squared error per colour sample, in levels squared): none when\n"
    "exact, blue under 1, green under 4, yellow under 16, orange under 64, red\n"
    "from 64. It appears whole or not at all, and may be neither FILE.velt nor\n"
    "a source frame.\n"
    "\n"
    "Options:\n";

const CommandSyntax kSyntax = {"compare",
                               {{"mode", 0, true},
                                {"json", 0, false},
                                {"heatmap", 0, true},
                                {"pad", 0, false},
                                {"raw", 0, true}},
                               {"FILE.velt", "INPUT"},
                               std::string(kHelp) + kReadingModeOption +
                                   "  --pad         the source frames were padded to a multiple\n"
                                   "                of 4, as velt encode --pad pads them\n"
                                   "  --raw WxH     INPUT - holds raw RGBA frames of W x H\n"
                                   "                pixels\n"
                                   "  --json        print one JSON object instead of the table\n"
                                   "  --heatmap OUT.png\n"
                                   "                write the first frame's heatmap of visible\n"
                                   "                errors into OUT.png\n"
                                   "  -h, --help    show this help\n\n" +
                                   kReadingModeNote};

std::string size_text(unsigned width, unsigned height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

// Why the heatmap cannot be written to `out`, or "": it may not replace the
// file being compared nor any source frame, and may not be a directory.
std::string heatmap_conflict(const std::string& out, const std::string& path, const VeltFile& file,
                             const FrameInput& sources) {
  if (out == path || file.names_this_file(out)) return "it is the input file " + path;
  return listed_output_conflict(sources.frames, out);
}

// The source frames, read as velt encode reads them: PNG files in the PNG
// module, or, for an animation or padded frames, in the encoder module.
class SourceFrames {
 public:
  SourceFrames(const FrameInput& input, const SpooledFrames* spooled, InputSettings settings,
               const VeltLayout& layout)
      : input_(input), spooled_(spooled), settings_(settings), layout_(layout) {
    if (spooled) {
      reader_.emplace(spooled_frame_grants(*spooled, nullptr), kListedFramePattern, settings);
    } else if (!settings.is_default()) {
      reader_.emplace(listed_frame_grants(input.frames, nullptr), kListedFramePattern, settings);
    }
  }

  // The number of frames, or -1 with `error` set.
  int64_t count(std::string* error) {
    if (spooled_) return int64_t(spooled_->frames.size());
    if (!reader_) return int64_t(input_.frames.size());
    if (settings_.kind != VELT_INPUT_ANIMATION) return int64_t(input_.frames.size());
    InputProbe probe;
    if (!reader_->probe(flags(), layout_.header.fps, &probe, error)) return -1;
    if (probe.result != VELT_OK) {
      *error = input_.frames[0] + ": " + probe.reason;
      return -1;
    }
    return probe.frames;
  }

  bool read(size_t frame, DecodedPicture* picture, std::string* error) {
    if (!reader_) return png_.decode(input_.frames[frame], VELT_MAX_SIDE, picture, error);
    // an animation's picture held for several frames is read once
    if (int64_t(frame) > last_frame_ && int64_t(frame) < last_next_) {
      *picture = last_picture_;
      return true;
    }
    InputPicture read;
    int32_t code = 0;
    std::string reason;
    switch (reader_->frame(flags(), layout_.header.fps, int32_t(frame), &read, &code, &reason)) {
      case InputReader::FRAME_READ:
        picture->width = read.width;
        picture->height = read.height;
        picture->rgba = std::move(read.rgba);
        last_frame_ = int64_t(frame);
        last_next_ = read.next;
        last_picture_ = *picture;
        return true;
      case InputReader::NO_SUCH_FRAME:
        *error = name(frame) + ": no such frame";
        return false;
      default:
        *error = name(frame) + ": " + reason;
        return false;
    }
  }

  std::string name(size_t frame) const {
    if (spooled_) return "standard input (frame " + std::to_string(frame) + ")";
    if (settings_.kind == VELT_INPUT_ANIMATION)
      return input_.frames[0] + " (frame " + std::to_string(frame) + ")";
    return input_.frames[frame];
  }

 private:
  int32_t flags() const { return int32_t(layout_.mode); }

  const FrameInput& input_;
  const SpooledFrames* spooled_;
  InputSettings settings_;
  const VeltLayout& layout_;
  SandboxedPngDecoder png_;
  std::optional<InputReader> reader_;
  // the last picture read, and the first later frame that may show another
  int64_t last_frame_ = -1;
  int64_t last_next_ = 0;
  DecodedPicture last_picture_;
};

}  // namespace

int run_compare_command(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  if (std::optional<int> done = parse_command(kSyntax, args, &parsed)) return *done;
  if (parsed.has("heatmap") && parsed.value_or("heatmap", "").empty())
    return report_usage_error("compare", "--heatmap needs a file name");
  VeltFile file;
  if (std::optional<int> done = open_file_argument(parsed, "compare", false, &file)) return *done;
  const std::string& path = parsed.positional[0];
  const bool from_stdin = parsed.positional[1] == "-";
  InputSettings settings;
  if (int status = read_input_settings("compare", parsed, from_stdin, &settings); status != EXIT_OK)
    return status;
  FrameInput sources;
  SpooledFrames spooled;
  std::string error;
  if (from_stdin) {
    if (!spool_standard_input(settings, &spooled, &error)) return report_failure("compare: " + error);
    sources.kind = FrameInputKind::DIRECTORY;
  } else if (!resolve_frame_input(parsed.positional[1], &sources, &error)) {
    return report_failure(error);
  }
  const VeltHeader& header = file.layout().header;
  if (sources.kind == FrameInputKind::SINGLE_FILE) settings.kind = VELT_INPUT_ANIMATION;
  const bool heatmap = parsed.has("heatmap");
  const std::string heatmap_path = parsed.value_or("heatmap", "");
  AtomicFile heatmap_file;
  if (heatmap) {
    std::string conflict = heatmap_conflict(heatmap_path, path, file, sources);
    if (conflict.empty()) heatmap_file.open(heatmap_path, &conflict);
    if (!conflict.empty())
      return report_failure("compare: cannot write heatmap " + heatmap_path + ": " + conflict);
  }
  // confined before the modules that read the sources are made: the sources
  // to read, the heatmap (open already) to name, nothing else
  ConfinementPolicy policy;
  policy.program = "velt: compare";
  policy.fault_role = "compare";
  if (!from_stdin) policy.readable = sources.frames;
  policy.naming_directory = heatmap_file.naming_directory();
  ConfinementLevel level;
  if (!confine_process(policy, &level, &error)) return report_failure("compare: " + error);

  SourceFrames source_frames(sources, from_stdin ? &spooled : nullptr, settings, file.layout());
  const int64_t source_count = source_frames.count(&error);
  if (source_count < 0) return report_failure(error);
  if (source_count != header.frame_count)
    return report_failure(parsed.positional[1] + ": " + std::to_string(source_count) +
                          " frames, but " + path + " holds " + std::to_string(header.frame_count));

  QualityReport report;
  std::vector<uint8_t> picture;
  DecodedPicture source;
  std::vector<uint8_t> first_source;  // the heatmap's backdrop
  for (size_t frame = 0; frame < header.frame_count; ++frame) {
    apply_frame_record(file.data(), file.layout(), frame, &picture);
    // no VELT frame is larger: a bigger source is refused before it is decoded
    if (!source_frames.read(frame, &source, &error)) return report_failure(error);
    if (source.width != unsigned(header.width) || source.height != unsigned(header.height))
      return report_failure(source_frames.name(frame) + ": " + size_text(source.width, source.height) +
                            " pixels, but " + path + " is " +
                            size_text(unsigned(header.width), unsigned(header.height)));
    add_frame_quality(picture.data(), source.rgba.data(), header.width, header.height, &report);
    if (heatmap && frame == 0) first_source = source.rgba;
  }
  if (heatmap) {
    const std::vector<uint8_t> picture = quality_heatmap(
        first_source.data(), header.width, header.height, report.first_frame_blocks);
    if (!write_rgba_png(heatmap_file, heatmap_path, picture.data(), unsigned(header.width),
                        unsigned(header.height), &error))
      return report_failure("compare: cannot write heatmap " + error);
  }
  std::fputs(
      parsed.has("json") ? quality_json(path, report).c_str() : quality_table(report).c_str(),
      stdout);
  return EXIT_OK;
}
