#include "printable_text.h"

#include <cstdint>
#include <cstdio>

namespace {

// The length of the well-formed UTF-8 sequence of two or more bytes at
// `at` (of `left` bytes), with its code point; 0 when there is none.
size_t utf8_sequence(const unsigned char* at, size_t left, uint32_t* code_point) {
  const unsigned char lead = at[0];
  size_t length = 0;
  uint32_t value = 0;
  // the second byte's range rules out overlong forms, surrogates and values
  // past U+10FFFF
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = at[i];
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
    value = (value << 6) | (next & 0x3F);
  }
  *code_point = value;
  return length;
}

bool printable_code_point(uint32_t c) {
  if (c < 0xA0) return false;  // C1 controls
  if (c == 0x200E || c == 0x200F || c == 0x2028 || c == 0x2029) return false;
  if (c >= 0x202A && c <= 0x202E) return false;
  if (c >= 0x2066 && c <= 0x2069) return false;
  return true;
}

void append_escape(std::string* out, unsigned char byte) {
  char escape[5];
  std::snprintf(escape, sizeof escape, "\\x%02x", byte);
  out->append(escape);
}

}  // namespace

std::string printable_text(const std::string& text) {
  std::string out;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0; i < text.size();) {
    const unsigned char byte = bytes[i];
    if (byte < 0x80) {
      if (byte == '\\') {
        out += "\\\\";
      } else if (byte == '\n') {
        out += "\\n";
      } else if (byte == '\r') {
        out += "\\r";
      } else if (byte == '\t') {
        out += "\\t";
      } else if (byte < 0x20 || byte == 0x7F) {
        append_escape(&out, byte);
      } else {
        out += char(byte);
      }
      ++i;
      continue;
    }
    uint32_t code_point = 0;
    size_t length = utf8_sequence(bytes + i, text.size() - i, &code_point);
    if (length > 0 && printable_code_point(code_point)) {
      out.append(text, i, length);
    } else {
      // a character that is not printable is escaped whole, a stray byte alone
      if (length == 0) length = 1;
      for (size_t k = 0; k < length; ++k) append_escape(&out, bytes[i + k]);
    }
    i += length;
  }
  return out;
}
