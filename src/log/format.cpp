// The UTF-16 printf-style engine behind every log line, status text and port path.
#include "log/format.h"

namespace {

// Appends to a bounded destination, remembering whether anything had to be dropped.
struct Writer {
  char16_t* destination;
  size_t limit;  // capacity - 1
  size_t length;
  bool complete;

  void Put(char16_t unit) {
    if (length < limit) {
      destination[length++] = unit;
    } else {
      complete = false;
    }
  }
  void PutRepeated(char16_t unit, int count) {
    for (int i = 0; i < count; i++) Put(unit);
  }
};

struct Conversion {
  bool zeroPad = false;
  bool leftAlign = false;
  int width = 0;
  char16_t kind = 0;
};

// Parses a conversion after its "%", advancing format; kind stays 0 when it is malformed.
Conversion ParseConversion(const char16_t*& format) {
  Conversion c;
  for (;; format++) {
    if (*format == u'0') c.zeroPad = true;
    else if (*format == u'-') c.leftAlign = true;
    else break;
  }
  while (*format >= u'0' && *format <= u'9' && c.width < 1000) {
    c.width = c.width * 10 + (*format++ - u'0');
  }
  if (*format == u'w' && format[1] == u's') format++;
  switch (*format) {
    case u'd': case u'i': case u'u': case u'x': case u'X': case u's': case u'%':
      c.kind = *format++;
      break;
    default:
      break;
  }
  return c;
}

// Renders a number's digits, most significant last, into digits; returns how many.
int Digits(uint32_t value, uint32_t base, bool upper, char16_t* digits) {
  const char16_t* set = upper ? u"0123456789ABCDEF" : u"0123456789abcdef";
  int count = 0;
  do {
    digits[count++] = set[value % base];
    value /= base;
  } while (value != 0);
  return count;
}

void PutPadded(Writer& out, const Conversion& c, bool negative, const char16_t* reversed,
               int count) {
  int used = count + (negative ? 1 : 0);
  int padding = c.width > used ? c.width - used : 0;
  if (!c.leftAlign && !c.zeroPad) out.PutRepeated(u' ', padding);
  if (negative) out.Put(u'-');
  if (!c.leftAlign && c.zeroPad) out.PutRepeated(u'0', padding);
  while (count > 0) out.Put(reversed[--count]);
  if (c.leftAlign) out.PutRepeated(u' ', padding);
}

bool PutNumber(Writer& out, const Conversion& c, const FormatArg& arg) {
  if (arg.kind != FormatArg::Kind::Number) return false;
  char16_t reversed[16];
  if (c.kind == u'd' || c.kind == u'i') {
    int32_t value = static_cast<int32_t>(arg.number);
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : value;
    PutPadded(out, c, value < 0, reversed, Digits(magnitude, 10, false, reversed));
  } else {
    uint32_t value = static_cast<uint32_t>(arg.number);
    uint32_t base = c.kind == u'u' ? 10 : 16;
    PutPadded(out, c, false, reversed, Digits(value, base, c.kind == u'X', reversed));
  }
  return true;
}

bool PutText(Writer& out, const Conversion& c, const FormatArg& arg) {
  if (arg.kind != FormatArg::Kind::Text) return false;
  const char16_t* text = arg.text != nullptr ? arg.text : u"(null)";
  int length = 0;
  while (text[length] != u'\0' && length < c.width) length++;
  int padding = c.width > length ? c.width - length : 0;
  if (!c.leftAlign) out.PutRepeated(u' ', padding);
  for (const char16_t* p = text; *p != u'\0'; p++) {
    out.Put(*p);
    if (!out.complete) break;  // no need to walk the rest of a long text
  }
  if (c.leftAlign) out.PutRepeated(u' ', padding);
  return true;
}

}  // namespace

FormatResult FormatArgs(char16_t* destination, size_t capacity, const char16_t* format,
                        const FormatArg* args, size_t argCount) {
  Writer out{destination, capacity - 1, 0, true};
  size_t next = 0;
  while (*format != u'\0' && out.complete) {
    if (*format != u'%') {
      out.Put(*format++);
      continue;
    }
    format++;
    Conversion c = ParseConversion(format);
    bool converted;
    if (c.kind == u'%') {
      out.Put(u'%');
      converted = true;
    } else if (c.kind == 0 || next >= argCount) {
      converted = false;
    } else if (c.kind == u's') {
      converted = PutText(out, c, args[next++]);
    } else {
      converted = PutNumber(out, c, args[next++]);
    }
    if (!converted) out.complete = false;
  }
  destination[out.length] = u'\0';
  return FormatResult{out.length, out.complete};
}

size_t FormatBoundedArgs(char16_t* destination, size_t capacity, const char16_t* format,
                         const FormatArg* args, size_t argCount) {
  if (capacity == 0 || capacity > 2147483647u) return 0;
  return FormatArgs(destination, capacity, format, args, argCount).length;
}

size_t FormatPathArgs(char16_t* destination, const char16_t* format, const FormatArg* args,
                      size_t argCount) {
  FormatResult result = FormatArgs(destination, kPathCapacity, format, args, argCount);
  if (result.complete) return result.length;
  destination[0] = u'\0';
  return 0;
}

void FormatLineArgs(char16_t* line, size_t width, const char16_t* format, const FormatArg* args,
                    size_t argCount) {
  FillLine(line, width, line, FormatArgs(line, width, format, args, argCount).length);
}

void FillLine(char16_t* line, size_t width, const char16_t* text, size_t length) {
  size_t kept = length < width - 1 ? length : width - 1;
  for (size_t i = 0; i < kept; i++) line[i] = text[i];
  for (size_t i = kept; i < width; i++) line[i] = u' ';
}
