// velt compare: decodes a VELT file and measures each frame against its
// source frame, which is decoded inside the sandboxed PNG module.
#include <cstdio>

#include "command_line.h"
#include "commands.h"
#include "frame_input.h"
#include "frame_quality.h"
#include "output_check.h"
#include "png_writer.h"
#include "quality_heatmap.h"
#include "reading_help.h"
#include "sandboxed_png.h"
#include "velt_file.h"
#include "velt_format.h"

namespace {

const char kHelp[] =
    "Usage: velt compare FILE.velt INPUT [--mode MODE] [--json] [--heatmap OUT.png]\n"
    "\n"
    "Decodes the animation and compares every frame with its source frame,\n"
    "per frame and over all frames. INPUT names the source frames as for velt\n"
    "encode: an X pattern, a printf-style pattern or a directory. The source PNG\n"
    "files are decoded inside the sandboxed PNG module.\n"
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
                               {{"mode", 0, true}, {"json", 0, false}, {"heatmap", 0, true}},
                               {"FILE.velt", "INPUT"},
                               std::string(kHelp) + kReadingModeOption +
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

}  // namespace

int run_compare_command(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  if (std::optional<int> done = parse_command(kSyntax, args, &parsed)) return *done;
  if (parsed.has("heatmap") && parsed.value_or("heatmap", "").empty())
    return report_usage_error("compare", "--heatmap needs a file name");
  VeltFile file;
  if (std::optional<int> done = open_file_argument(parsed, "compare", false, &file)) return *done;
  const std::string& path = parsed.positional[0];
  FrameInput sources;
  std::string error;
  if (!resolve_frame_input(parsed.positional[1], &sources, &error)) return report_failure(error);
  const VeltHeader& header = file.layout().header;
  if (sources.frames.size() != header.frame_count)
    return report_failure(parsed.positional[1] + ": " + std::to_string(sources.frames.size()) +
                          " frames, but " + path + " holds " + std::to_string(header.frame_count));
  const bool heatmap = parsed.has("heatmap");
  const std::string heatmap_path = parsed.value_or("heatmap", "");
  if (heatmap) {
    const std::string conflict = heatmap_conflict(heatmap_path, path, file, sources);
    if (!conflict.empty())
      return report_failure("compare: cannot write heatmap " + heatmap_path + ": " + conflict);
  }

  SandboxedPngDecoder decoder;
  QualityReport report;
  std::vector<uint8_t> picture;
  DecodedPicture source;
  std::vector<uint8_t> first_source;  // the heatmap's backdrop
  for (size_t frame = 0; frame < header.frame_count; ++frame) {
    apply_frame_record(file.data(), file.layout(), frame, &picture);
    // no VELT frame is larger: a bigger source is refused before it is decoded
    if (!decoder.decode(sources.frames[frame], VELT_MAX_SIDE, &source, &error))
      return report_failure(error);
    if (source.width != unsigned(header.width) || source.height != unsigned(header.height))
      return report_failure(sources.frames[frame] + ": " + size_text(source.width, source.height) +
                            " pixels, but " + path + " is " +
                            size_text(unsigned(header.width), unsigned(header.height)));
    add_frame_quality(picture.data(), source.rgba.data(), header.width, header.height, &report);
    if (heatmap && frame == 0) first_source = source.rgba;
  }
  if (heatmap) {
    const std::vector<uint8_t> picture = quality_heatmap(
        first_source.data(), header.width, header.height, report.first_frame_blocks);
    if (!write_rgba_png(heatmap_path, picture.data(), unsigned(header.width),
                        unsigned(header.height), &error))
      return report_failure("compare: cannot write heatmap " + error);
  }
  std::fputs(
      parsed.has("json") ? quality_json(path, report).c_str() : quality_table(report).c_str(),
      stdout);
  return EXIT_OK;
}
