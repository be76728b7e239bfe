// The encoder module's console text, kept instead of printed, and turned into
// the one-line error that velt encode shows when a run fails.
#ifndef VELT_TOOLKIT_ENCODER_MESSAGES_H
#define VELT_TOOLKIT_ENCODER_MESSAGES_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

class EncoderMessages {
 public:
  // Keeps module output up to a fixed size; the rest is dropped (the first
  // message is the one that matters).
  void append(const uint8_t* bytes, size_t size);
  const std::string& text() const { return text_; }

  // The first message of the run without the module's "Error!" prefix and
  // closing punctuation, with every path that `rename` knows replaced by what
  // it returns (link paths by the user's frame paths). Empty when the module
  // printed nothing but its entry line.
  std::string first_message(const std::function<std::string(const std::string&)>& rename) const;

 private:
  std::string text_;
};

// The text for an encoder failure code, for runs that printed no message.
const char* encoder_failure_text(uint32_t code);

#endif
