// Formatted output: printf to stdout and snprintf into a buffer. Integer,
// character and string conversions only; no floating point.
#include <errno.h>
#include <limits.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "stream.h"

namespace {

// Where formatted text goes: a stream, or a buffer of `capacity` bytes that
// keeps room for the terminating NUL.
struct FormatSink {
  FILE* stream;
  char* buffer;
  size_t capacity;
  size_t length;  // characters produced so far, stored or not
  bool failed;
};

void emit(FormatSink* sink, const char* text, size_t n) {
  if (sink->stream) {
    if (stream_write(sink->stream, reinterpret_cast<const unsigned char*>(text), n) < n)
      sink->failed = true;
  } else if (sink->capacity > 0 && sink->length < sink->capacity - 1) {
    size_t room = sink->capacity - 1 - sink->length;
    memcpy(sink->buffer + sink->length, text, n < room ? n : room);
  }
  sink->length += n;
}

void emit_repeated(FormatSink* sink, char c, size_t count) {
  char run[16];
  memset(run, c, sizeof run);
  while (count > 0) {
    size_t n = count < sizeof run ? count : sizeof run;
    emit(sink, run, n);
    count -= n;
  }
}

// One conversion's flags, width and precision.
struct ConversionSpec {
  bool left;       // '-': pad on the right
  bool zero;       // '0': pad numbers with zeros
  bool plus;       // '+': sign on non-negative numbers
  bool space;      // ' ': space before non-negative numbers
  bool alternate;  // '#': 0x / 0 prefix
  size_t width;
  int precision;   // -1 when absent
};

// Emits `body` (of `length` characters) after `prefix`, padded to the width;
// `zeros` leading zeros go between prefix and body.
void emit_field(FormatSink* sink, const ConversionSpec& conversion, const char* prefix, const char* body,
                size_t length, size_t zeros) {
  size_t prefix_length = strlen(prefix);
  size_t total = prefix_length + zeros + length;
  size_t padding = conversion.width > total ? conversion.width - total : 0;
  if (!conversion.left) emit_repeated(sink, ' ', padding);
  emit(sink, prefix, prefix_length);
  emit_repeated(sink, '0', zeros);
  emit(sink, body, length);
  if (conversion.left) emit_repeated(sink, ' ', padding);
}

void emit_integer(FormatSink* sink, ConversionSpec conversion, uint64_t magnitude, bool negative,
                  unsigned base, bool upper) {
  const char* digit_chars = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char digits[24];
  size_t count = 0;
  char* end = digits + sizeof digits;
  for (uint64_t v = magnitude; v != 0; v /= base) digits[sizeof digits - 1 - count++] = digit_chars[v % base];
  // precision 0 prints nothing for the value 0
  if (magnitude == 0 && conversion.precision != 0) digits[sizeof digits - 1 - count++] = '0';

  const char* prefix = "";
  if (negative) prefix = "-";
  else if (conversion.plus && base == 10) prefix = "+";
  else if (conversion.space && base == 10) prefix = " ";
  else if (conversion.alternate && base == 16 && magnitude != 0) prefix = upper ? "0X" : "0x";
  else if (conversion.alternate && base == 8 && (magnitude != 0 || conversion.precision == 0)) prefix = "0";

  size_t zeros = 0;
  if (conversion.precision >= 0) {
    if (static_cast<size_t>(conversion.precision) > count) zeros = conversion.precision - count;
  } else if (conversion.zero && !conversion.left) {
    size_t used = strlen(prefix) + count;
    if (conversion.width > used) zeros = conversion.width - used;
  }
  emit_field(sink, conversion, prefix, end - count, count, zeros);
}

// Reads a decimal number at *p and leaves *p after it.
size_t read_number(const char** p) {
  size_t value = 0;
  while (**p >= '0' && **p <= '9') {
    value = value <= (INT_MAX - 9) / 10 ? value * 10 + (**p - '0') : INT_MAX;
    (*p)++;
  }
  return value;
}

enum LengthModifier { LENGTH_HH, LENGTH_H, LENGTH_NONE, LENGTH_L, LENGTH_LL, LENGTH_SIZE };

int64_t signed_argument(va_list* args, LengthModifier length) {
  switch (length) {
    case LENGTH_HH: return static_cast<signed char>(va_arg(*args, int));
    case LENGTH_H: return static_cast<short>(va_arg(*args, int));
    case LENGTH_L: return va_arg(*args, long);
    case LENGTH_LL: return va_arg(*args, long long);
    case LENGTH_SIZE: return static_cast<int64_t>(static_cast<intptr_t>(va_arg(*args, size_t)));
    default: return va_arg(*args, int);
  }
}

uint64_t unsigned_argument(va_list* args, LengthModifier length) {
  switch (length) {
    case LENGTH_HH: return static_cast<unsigned char>(va_arg(*args, unsigned));
    case LENGTH_H: return static_cast<unsigned short>(va_arg(*args, unsigned));
    case LENGTH_L: return va_arg(*args, unsigned long);
    case LENGTH_LL: return va_arg(*args, unsigned long long);
    case LENGTH_SIZE: return va_arg(*args, size_t);
    default: return va_arg(*args, unsigned);
  }
}

void format(FormatSink* sink, const char* fmt, va_list* args) {
  while (*fmt) {
    const char* start = fmt;
    while (*fmt && *fmt != '%') fmt++;
    if (fmt != start) emit(sink, start, fmt - start);
    if (*fmt == 0) break;
    const char* conversion_start = fmt++;

    ConversionSpec conversion = {false, false, false, false, false, 0, -1};
    for (;; fmt++) {
      if (*fmt == '-') conversion.left = true;
      else if (*fmt == '0') conversion.zero = true;
      else if (*fmt == '+') conversion.plus = true;
      else if (*fmt == ' ') conversion.space = true;
      else if (*fmt == '#') conversion.alternate = true;
      else break;
    }
    if (*fmt == '*') {
      fmt++;
      int width = va_arg(*args, int);
      if (width < 0) {
        conversion.left = true;
        width = width == INT_MIN ? INT_MAX : -width;
      }
      conversion.width = width;
    } else {
      conversion.width = read_number(&fmt);
    }
    if (*fmt == '.') {
      fmt++;
      if (*fmt == '*') {
        fmt++;
        int precision = va_arg(*args, int);
        conversion.precision = precision < 0 ? -1 : precision;
      } else {
        conversion.precision = static_cast<int>(read_number(&fmt));
      }
    }
    LengthModifier length = LENGTH_NONE;
    if (*fmt == 'h') {
      fmt++;
      length = LENGTH_H;
      if (*fmt == 'h') {
        fmt++;
        length = LENGTH_HH;
      }
    } else if (*fmt == 'l') {
      fmt++;
      length = LENGTH_L;
      if (*fmt == 'l') {
        fmt++;
        length = LENGTH_LL;
      }
    } else if (*fmt == 'j') {
      fmt++;
      length = LENGTH_LL;
    } else if (*fmt == 'z' || *fmt == 't') {
      fmt++;
      length = LENGTH_SIZE;
    }

    char c = *fmt;
    if (c == 0) {
      // an unfinished conversion at the end is printed as it stands
      emit(sink, conversion_start, fmt - conversion_start);
      break;
    }
    fmt++;
    switch (c) {
      case 'd':
      case 'i': {
        int64_t v = signed_argument(args, length);
        uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        emit_integer(sink, conversion, magnitude, v < 0, 10, false);
        break;
      }
      case 'u': emit_integer(sink, conversion, unsigned_argument(args, length), false, 10, false); break;
      case 'x': emit_integer(sink, conversion, unsigned_argument(args, length), false, 16, false); break;
      case 'X': emit_integer(sink, conversion, unsigned_argument(args, length), false, 16, true); break;
      case 'o': emit_integer(sink, conversion, unsigned_argument(args, length), false, 8, false); break;
      case 'p': {
        conversion.alternate = true;
        emit_integer(sink, conversion, reinterpret_cast<uintptr_t>(va_arg(*args, void*)), false, 16, false);
        break;
      }
      case 'c': {
        char ch = static_cast<char>(va_arg(*args, int));
        emit_field(sink, conversion, "", &ch, 1, 0);
        break;
      }
      case 's': {
        const char* s = va_arg(*args, const char*);
        if (s == nullptr) s = "(null)";
        size_t n = 0;
        while (s[n] && (conversion.precision < 0 || n < static_cast<size_t>(conversion.precision))) n++;
        emit_field(sink, conversion, "", s, n, 0);
        break;
      }
      case '%': emit(sink, "%", 1); break;
      default:
        // unknown conversions are printed as they stand
        emit(sink, conversion_start, fmt - conversion_start);
        break;
    }
  }
}

// The int result of printf and snprintf: the length, or -1 when it does not
// fit an int.
int length_result(size_t length) {
  if (length > INT_MAX) {
    errno = EOVERFLOW;
    return -1;
  }
  return static_cast<int>(length);
}

}  // namespace

extern "C" {

int printf(const char* fmt, ...) {
  FormatSink sink = {stdout, nullptr, 0, 0, false};
  va_list args;
  va_start(args, fmt);
  format(&sink, fmt, &args);
  va_end(args);
  return sink.failed ? -1 : length_result(sink.length);
}

int snprintf(char* buffer, size_t size, const char* fmt, ...) {
  FormatSink sink = {nullptr, buffer, size, 0, false};
  va_list args;
  va_start(args, fmt);
  format(&sink, fmt, &args);
  va_end(args);
  if (size > 0) buffer[sink.length < size - 1 ? sink.length : size - 1] = 0;
  return length_result(sink.length);
}

}  // extern "C"
