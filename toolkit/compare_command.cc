// velt compare: decodes a VELT file and measures each frame against its
// source frame, which is decoded inside the sandboxed PNG module.
#include <cstdio>

#include "command_line.h"
#include "commands.h"
#include "frame_input.h"
#include "frame_quality.h"
#include "reading_help.h"
#include "sandboxed_png.h"
#include "velt_file.h"
#include "velt_format.h"

namespace {

const char kHelp[] =
    "Usage: velt compare FILE.velt INPUT [--mode MODE] [--json]\n"
    "\n"
    "Decodes the animation and compares every frame with its source frame:\n"
    "PSNR per frame and over all frames, for RGB and alpha apart, and the worst\n"
    "block (the 4x4 block with the largest squared error, by its top-left\n"
    "pixel). INPUT names the source frames as for velt encode: an X pattern, a\n"
    "printf-style pattern or a directory. The source PNG files are decoded\n"
    "inside the sandboxed PNG module. RGB counts every pixel, transparent ones\n"
    "too. An exact match shows as \"exact\" in the table and as null in JSON.\n"
    "\n"
    "Options:\n";

const CommandSyntax kSyntax = {"compare",
                               {{"mode", 0, true}, {"json", 0, false}},
                               {"FILE.velt", "INPUT"},
                               std::string(kHelp) + kReadingModeOption +
                                   "  --json        print one JSON object instead of the table\n"
                                   "  -h, --help    show this help\n\n" +
                                   kReadingModeNote};

std::string size_text(unsigned width, unsigned height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

}  // namespace

int run_compare_command(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  if (std::optional<int> done = parse_command(kSyntax, args, &parsed)) return *done;
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

  SandboxedPngDecoder decoder;
  QualityReport report;
  std::vector<uint8_t> picture;
  DecodedPicture source;
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
  }
  std::fputs(
      parsed.has("json") ? quality_json(path, report).c_str() : quality_table(report).c_str(),
      stdout);
  return EXIT_OK;
}
