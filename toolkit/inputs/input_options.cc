#include "input_options.h"

#include <unistd.h>

#include <optional>

#include "velt_encoder.h"
#include "velt_format.h"

int read_input_settings(const std::string& command, const ParsedArguments& parsed,
                        bool from_stdin, InputSettings* settings) {
  settings->pad = parsed.has("pad");
  if (!parsed.has("raw")) return EXIT_OK;
  if (!from_stdin)
    return report_usage_error(command, "--raw reads frames from standard input: give - as INPUT");
  const std::string text = parsed.value_or("raw", "");
  size_t x = text.find('x');
  std::optional<long> width, height;
  if (x != std::string::npos) {
    width = parse_number(text.substr(0, x), 1, VELT_MAX_SIDE);
    height = parse_number(text.substr(x + 1), 1, VELT_MAX_SIDE);
  }
  if (!width || !height)
    return report_usage_error(command, "--raw takes WxH, each side 1 to " +
                                           std::to_string(VELT_MAX_SIDE) + ", not '" + text + "'");
  settings->kind = VELT_INPUT_RAW;
  settings->raw_width = uint32_t(*width);
  settings->raw_height = uint32_t(*height);
  return EXIT_OK;
}

bool spool_standard_input(const InputSettings& settings, SpooledFrames* spooled,
                          std::string* error) {
  SpoolResult spool = settings.kind == VELT_INPUT_RAW
                          ? spool_raw_stream(STDIN_FILENO, settings.raw_width, settings.raw_height,
                                             spooled)
                          : spool_png_stream(STDIN_FILENO, spooled);
  if (!spool.ok) *error = spool.error;
  return spool.ok;
}
