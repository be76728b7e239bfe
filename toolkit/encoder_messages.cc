#include "encoder_messages.h"

#include "velt_encoder.h"

namespace {

// The module's messages are short lines; this is plenty for the first one.
constexpr size_t MAX_KEPT = 16384;

const char kEntryLine[] = "compress_video_wasm";
const char kErrorPrefix[] = "Error!";
const char kFullWidthExclamation[] = "\xEF\xBC\x81";

// Replaces each whitespace-separated word (a trailing ':' or '.' aside) that
// `rename` maps to something else.
std::string rename_words(const std::string& line,
                         const std::function<std::string(const std::string&)>& rename) {
  std::string result;
  size_t i = 0;
  while (i < line.size()) {
    size_t end = line.find(' ', i);
    if (end == std::string::npos) end = line.size();
    std::string word = line.substr(i, end - i);
    std::string punctuation;
    while (!word.empty() && (word.back() == ':' || word.back() == '.' || word.back() == ',')) {
      punctuation.insert(punctuation.begin(), word.back());
      word.pop_back();
    }
    std::string renamed = rename(word);
    result += (renamed.empty() ? word : renamed) + punctuation;
    if (end < line.size()) result += ' ';
    i = end + 1;
  }
  return result;
}

}  // namespace

void EncoderMessages::append(const uint8_t* bytes, size_t size) {
  if (text_.size() >= MAX_KEPT) return;
  size_t room = MAX_KEPT - text_.size();
  text_.append(reinterpret_cast<const char*>(bytes), size < room ? size : room);
}

std::string EncoderMessages::first_message(
    const std::function<std::string(const std::string&)>& rename) const {
  size_t start = 0;
  while (start < text_.size()) {
    size_t end = text_.find('\n', start);
    if (end == std::string::npos) end = text_.size();
    std::string line = text_.substr(start, end - start);
    start = end + 1;
    if (line.empty() || line == kEntryLine) continue;
    if (line.rfind(kErrorPrefix, 0) == 0) line.erase(0, sizeof kErrorPrefix - 1);
    // the two size messages end in a full-width '!' and no line end; a later
    // message may follow on the same line
    size_t mark = line.find(kFullWidthExclamation);
    if (mark != std::string::npos) line.erase(mark);
    while (!line.empty() && (line.back() == '.' || line.back() == ' ')) line.pop_back();
    if (!line.empty() && line[0] >= 'A' && line[0] <= 'Z' && line.size() > 1 && line[1] >= 'a' &&
        line[1] <= 'z')
      line[0] = static_cast<char>(line[0] - 'A' + 'a');
    return rename_words(line, rename);
  }
  return "";
}

const char* encoder_failure_text(uint32_t code) {
  switch (code) {
    case VELT_ERR_OPEN_OUTPUT: return "cannot open the output file";
    case VELT_ERR_READ_FRAME: return "frame 0 cannot be read, or a frame path is too long";
    case VELT_ERR_NOT_MULTIPLE_OF_4: return "the width and height must be divisible by 4";
    case VELT_ERR_TOO_LARGE: return "image width and height overflow (1024 pixels or more)";
    case VELT_ERR_SIZE_CHANGED: return "a frame differs in size from frame 0";
    case VELT_ERR_WRITE: return "the output file could not be written";
    case VELT_ERR_DECODE_FRAME: return "a frame is not a valid PNG";
    default: return "the encoder failed";
  }
}
