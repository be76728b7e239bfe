// velt decode: a VELT file's frames 0..N-1 as RGBA PNG files, each rebuilt
// from the records before it as a player does.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "atomic_file.h"
#include "command_line.h"
#include "commands.h"
#include "frame_input.h"
#include "png_writer.h"
#include "reading_help.h"
#include "velt_file.h"

namespace {

const char kHelp[] =
    "Usage: velt decode FILE.velt OUT_PATTERN [--mode MODE]\n"
    "       velt decode FILE.velt OUT.rgba --raw [--mode MODE]\n"
    "\n"
    "Writes the animation's frames 0 to N-1 as RGBA PNG files (8 bits a\n"
    "channel). OUT_PATTERN names them: every X stands for the frame number\n"
    "(out/frame_X.png), or one %d or %0Nd does (out/%04d.png). The file is\n"
    "checked whole before anything is written. Each PNG file appears whole or\n"
    "not at all: a failed write leaves what the path held before. A pattern\n"
    "that names the file itself for some frame is refused.\n"
    "\n"
    "With --raw the frames are written one after the other as raw RGBA (width x\n"
    "height x 4 bytes each, rows from the top) into OUT.rgba, or to standard\n"
    "output when it is '-', for a pipe into another program.\n"
    "\n"
    "Options:\n"
    "  --raw         raw RGBA frames into one file or standard output\n";

const CommandSyntax kSyntax = {"decode",
                               {{"mode", 0, true}, {"raw", 0, false}},
                               {"FILE.velt", "OUT_PATTERN"},
                               std::string(kHelp) + kReadingModeOption +
                                   "  -h, --help    show this help\n\n" + kReadingModeNote};

// Output names: a printf conversion if the pattern has one, else its X.
bool output_namer(const std::string& pattern, std::function<std::string(int32_t)>* namer,
                  std::string* error) {
  PrintfPattern printf_pattern;
  error->clear();
  if (parse_printf_pattern(pattern, &printf_pattern, error)) {
    *namer = [printf_pattern](int32_t n) { return format_printf_pattern(printf_pattern, n); };
    return true;
  }
  if (!error->empty()) return false;
  if (pattern.find('X') == std::string::npos) {
    *error = "OUT_PATTERN needs an X or a %d for the frame number";
    return false;
  }
  *namer = [pattern](int32_t n) { return expand_x_pattern(pattern, n); };
  return true;
}

// Refuses, before anything is written, an output pattern that names the
// input file for one of the frames: writing that frame would replace the file
// being decoded. Returns the exit status then, or nothing.
std::optional<int> refuse_output_over_input(const std::string& input, const VeltFile& file,
                                            const std::function<std::string(int32_t)>& name_of) {
  for (int32_t frame = 0; frame < static_cast<int32_t>(file.layout().header.frame_count);
       ++frame) {
    std::string name = name_of(frame);
    if (name == input || file.names_this_file(name))
      return report_failure("decode: OUT_PATTERN names the input file " + input + " (frame " +
                            std::to_string(frame) + ")");
  }
  return std::nullopt;
}

// Writes every frame as raw RGBA to `output`, or to standard output for
// "-"; a file appears whole or not at all.
int write_raw_frames(const std::string& input, const VeltFile& file, const std::string& output) {
  const bool to_stdout = output == "-";
  if (!to_stdout && (output == input || file.names_this_file(output)))
    return report_failure("decode: the output is the input file " + input);
  AtomicFile out;
  std::string error;
  if (!to_stdout && !out.open(output, &error))
    return report_failure("decode: cannot write " + output + ": " + error);
  const int fd = to_stdout ? STDOUT_FILENO : out.fd();
  const VeltLayout& layout = file.layout();
  const size_t frame_bytes = size_t(layout.header.width) * layout.header.height * 4;
  std::vector<uint8_t> picture;
  for (size_t frame = 0; frame < layout.header.frame_count; ++frame) {
    apply_frame_record(file.data(), layout, frame, &picture);
    if (!write_all(fd, picture.data(), frame_bytes))
      return report_failure("decode: failed to write " + (to_stdout ? "standard output" : output) +
                            ": " + std::strerror(errno));
  }
  if (!to_stdout && !out.commit(&error))
    return report_failure("decode: failed to write " + output + ": " + error);
  return EXIT_OK;
}

}  // namespace

int run_decode_command(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  if (std::optional<int> done = parse_command(kSyntax, args, &parsed)) return *done;
  if (parsed.has("raw")) {
    VeltFile file;
    if (std::optional<int> done = open_file_argument(parsed, "decode", false, &file)) return *done;
    return write_raw_frames(parsed.positional[0], file, parsed.positional[1]);
  }
  std::function<std::string(int32_t)> name_of;
  std::string error;
  if (!output_namer(parsed.positional[1], &name_of, &error))
    return report_usage_error("decode", error);
  VeltFile file;
  if (std::optional<int> done = open_file_argument(parsed, "decode", false, &file)) return *done;
  if (std::optional<int> done = refuse_output_over_input(parsed.positional[0], file, name_of))
    return *done;
  const VeltLayout& layout = file.layout();
  std::vector<uint8_t> picture;
  for (size_t frame = 0; frame < layout.header.frame_count; ++frame) {
    apply_frame_record(file.data(), layout, frame, &picture);
    if (!write_rgba_png(name_of(static_cast<int32_t>(frame)), picture.data(),
                        static_cast<unsigned>(layout.header.width),
                        static_cast<unsigned>(layout.header.height), &error))
      return report_failure(error);
  }
  return EXIT_OK;
}
