// velt info: checks a whole VELT file and shows its header, one line per
// frame record, the totals against raw RGBA frames and its size on the wire.
#include <cstdio>

#include "block_mode_names.h"
#include "command_line.h"
#include "commands.h"
#include "reading_help.h"
#include "velt_file.h"
#include "wire_size.h"

namespace {

const char kHelp[] =
    "Usage: velt info FILE.velt [--mode MODE | --record-size 8|12] [--no-wire-size]\n"
    "\n"
    "Checks the whole file and shows its header (size, frame rate, frame count,\n"
    "mode bit), each frame record (changed blocks and bytes) and the totals with\n"
    "the compression ratio against raw RGBA frames, then its size on the wire:\n"
    "gzip (zlib, level 9) and brotli (quality 11), as a web server sends it\n"
    "compressed. A damaged file is reported with the offset where it goes wrong.\n"
    "\n"
    "Options:\n";

const char kRecordSizeOption[] =
    "  --record-size 8|12\n"
    "                the record size of a file whose header marks non-zero flags,\n"
    "                when the exact mode does not matter (default 8)\n";

const char kNoWireSizeOption[] =
    "  --no-wire-size\n"
    "                leave out the gzip and brotli sizes: brotli at quality 11\n"
    "                takes over a second a megabyte\n";

const CommandSyntax kSyntax = {
    "info",
    {{"mode", 0, true}, {"record-size", 0, true}, {"no-wire-size", 0, false}},
    {"FILE.velt"},
    std::string(kHelp) + kReadingModeOption + kRecordSizeOption + kNoWireSizeOption +
        "  -h, --help    show this help\n\n" + kReadingModeNote};

// `how_read` says how a file with the mode bit set was read: "default",
// "mode" or "record-size".
void print_header(const std::string& path, const VeltFile& file, const std::string& how_read) {
  const VeltLayout& layout = file.layout();
  const VeltHeader& h = layout.header;
  std::printf("file        %s, %zu bytes\n", path.c_str(), file.size());
  std::printf("size        %d x %d pixels, %d x %d blocks\n", h.width, h.height, h.blocks_across,
              h.blocks_down);
  std::printf("rate        %d fps (rate code %d)\n", h.fps, h.rate_code);
  std::printf("frames      %u, then a closing record back to frame 0\n", unsigned(h.frame_count));
  if (!h.flags_marked) {
    std::printf("mode bit    clear: opaque, 8-byte records\n");
  } else {
    if (how_read == "record-size") {
      std::printf("mode bit    set (some encoding flag): read with %d-byte records\n",
                  record_size_of(layout.mode));
    } else {
      std::printf("mode bit    set (some encoding flag): read as %s, %d-byte records%s\n",
                  block_mode_name(layout.mode), record_size_of(layout.mode),
                  how_read == "default" ? " (the default; see --help)" : "");
    }
  }
}

void print_records(const VeltLayout& layout) {
  const uint64_t blocks =
      uint64_t(layout.header.blocks_across) * uint64_t(layout.header.blocks_down);
  std::printf("\n%6s  %-7s  %14s  %8s  %10s\n", "record", "frame", "changed blocks", "changed",
              "bytes");
  for (size_t i = 0; i < layout.records.size(); ++i) {
    const FrameRecordSpan& record = layout.records[i];
    std::string frame = i + 1 == layout.records.size() ? "0 again" : std::to_string(i);
    std::printf("%6zu  %-7s  %14u  %7.1f%%  %10llu\n", i, frame.c_str(), record.changed_blocks,
                100.0 * record.changed_blocks / double(blocks),
                static_cast<unsigned long long>(record.size));
  }
}

void print_totals(const VeltFile& file) {
  const VeltLayout& layout = file.layout();
  const VeltHeader& h = layout.header;
  uint64_t changed = 0;
  for (const FrameRecordSpan& record : layout.records) changed += record.changed_blocks;
  const uint64_t raw = uint64_t(h.width) * uint64_t(h.height) * 4 * h.frame_count;
  std::printf("\ntotal       %zu records, %llu blocks stored, %zu bytes with the header\n",
              layout.records.size(), static_cast<unsigned long long>(changed), file.size());
  std::printf("raw RGBA    %u frames x %d x %d x 4 = %llu bytes\n", unsigned(h.frame_count),
              h.width, h.height, static_cast<unsigned long long>(raw));
  std::printf("ratio       %.1f : 1\n", double(raw) / double(file.size()));
}

// The gzip and brotli streams are counted, not kept. Returns false with
// `error` when a compressor fails.
bool print_wire_sizes(const VeltFile& file, std::string* error) {
  // the lines before show while brotli works through a large file
  std::fflush(stdout);
  uint64_t counted = 0;
  const ByteSink count = [&counted](const uint8_t*, size_t size) { counted += size; };
  const double percent = 100.0 / double(file.size());
  if (!gzip_stream(file.data(), file.size(), count, error)) return false;
  std::printf("gzip        %llu bytes, %.1f%% of the file (zlib, level 9)\n",
              static_cast<unsigned long long>(counted), double(counted) * percent);
  std::fflush(stdout);
  counted = 0;
  if (!brotli_stream(file.data(), file.size(), count, error)) return false;
  std::printf("brotli      %llu bytes, %.1f%% of the file (quality 11)\n",
              static_cast<unsigned long long>(counted), double(counted) * percent);
  return true;
}

}  // namespace

int run_info_command(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  if (std::optional<int> done = parse_command(kSyntax, args, &parsed)) return *done;
  VeltFile file;
  if (std::optional<int> done = open_file_argument(parsed, "info", true, &file)) return *done;
  print_header(parsed.positional[0], file,
               parsed.has("mode")          ? "mode"
               : parsed.has("record-size") ? "record-size"
                                           : "default");
  print_records(file.layout());
  print_totals(file);
  std::string error;
  if (!parsed.has("no-wire-size") && !print_wire_sizes(file, &error))
    return report_failure(parsed.positional[0] + ": " + error);
  return EXIT_OK;
}
