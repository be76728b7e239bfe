#include "encoder_failure.h"

#include "printable_text.h"
#include "velt_encoder.h"

namespace {

std::string with_reason(const std::string& text, const std::string& reason) {
  return reason.empty() ? text : text + ": " + reason;
}

}  // namespace

std::string encoder_failure_message(const EncodingOutcome& outcome, const std::string& output,
                                    const std::function<std::string(int32_t)>& frame_path) {
  // the module's or a part file's words: shown escaped, on one line
  const std::string reason = printable_text(outcome.report.reason);
  const int32_t failing = outcome.report.failing_frame;
  const std::string frame = failing >= 0 ? frame_path(failing) : "?";
  switch (outcome.result) {
    case VELT_ERR_OPEN_OUTPUT:
      return with_reason("cannot open output file " + output, outcome.output_error);
    case VELT_ERR_READ_FRAME:
      return with_reason("cannot read frame " + frame, reason);
    case VELT_ERR_NOT_MULTIPLE_OF_4:
      return "the width and height must be divisible by 4: " + frame + " is " + reason;
    case VELT_ERR_TOO_LARGE:
      // the sides are read from the header, before the picture is decoded
      return "frame " + frame + " is " + reason +
             ": the width and height must be below 1024 (after padding to a multiple of 4); "
             "ffmpeg makes it smaller: ffmpeg -i INPUT -vf "
             "\"scale='min(1020,iw)':'min(1020,ih)':force_original_aspect_ratio=decrease\" "
             "OUTPUT";
    case VELT_ERR_SIZE_CHANGED:
      return "frame " + frame + " is " + reason;
    case VELT_ERR_WRITE:
      return with_reason("failed to write " + output, outcome.output_error);
    case VELT_ERR_DECODE_FRAME:
      return with_reason("cannot decode frame " + frame, reason);
    case VELT_ERR_FRAME_CHANGED:
      return with_reason("frame " + frame + " changed during the run", reason);
    case VELT_ERR_TOO_LONG:
      return "too many frames: " + frame + " is " + reason +
             " (a lower --fps holds it in fewer frames)";
    case VELT_ERR_TOO_MANY_FRAMES:
      return "too many frames: frame 65535 and later were not encoded";
    default:
      return "the encoder failed with code " + std::to_string(outcome.result);
  }
}
