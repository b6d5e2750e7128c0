// UTF-16 text helpers: measuring, comparing, bounded copies and UTF-8 conversion.
#include "text.h"

#include <cstdint>

size_t TextLength(const char16_t* text) {
  size_t length = 0;
  while (text[length] != u'\0') length++;
  return length;
}

size_t TextLengthWithin(const char16_t* text, size_t capacity) {
  size_t length = 0;
  while (length < capacity && text[length] != u'\0') length++;
  return length;
}

bool TextEqual(const char16_t* a, const char16_t* b) {
  size_t i = 0;
  while (a[i] == b[i]) {
    if (a[i] == u'\0') return true;
    i++;
  }
  return false;
}

size_t TextCopy(char16_t* destination, size_t capacity, const char16_t* source) {
  if (capacity == 0) return 0;
  size_t count = 0;
  while (count + 1 < capacity && source[count] != u'\0') {
    destination[count] = source[count];
    count++;
  }
  destination[count] = u'\0';
  return count;
}

namespace {

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// A byte that is not part of valid UTF-8 (in a POSIX file name, which is bytes) stands in UTF-16
// as the lone low surrogate U+DC00 + byte, and goes back to that byte: valid UTF-8 never decodes
// to a lone surrogate, so every byte string comes back as it was, and the file opened is the one
// that was named. (On a terminal such a byte shows as a replacement character.)
constexpr uint32_t kEscapedByteBase = 0xDC00;
constexpr uint32_t kEscapedByteFlag = 0x80000000;  // marks a code point that stands for a byte

bool IsEscapedByte(char16_t unit) { return unit >= 0xDC80 && unit <= 0xDCFF; }

// Reads one code point at source[i], i below end, advancing i past it.
uint32_t NextCodePoint(const char16_t* source, size_t end, size_t& i) {
  char16_t unit = source[i++];
  if (IsHighSurrogate(unit) && i < end && IsLowSurrogate(source[i])) {
    char16_t low = source[i++];
    return 0x10000 + ((static_cast<uint32_t>(unit) - 0xD800) << 10) + (low - 0xDC00);
  }
  if (IsEscapedByte(unit)) return kEscapedByteFlag | (unit - kEscapedByteBase);
  if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) return 0xFFFD;
  return unit;
}

size_t EncodeUtf8(uint32_t codePoint, char* out) {
  if ((codePoint & kEscapedByteFlag) != 0) {
    out[0] = static_cast<char>(codePoint & 0xFF);
    return 1;
  }
  if (codePoint < 0x80) {
    out[0] = static_cast<char>(codePoint);
    return 1;
  }
  if (codePoint < 0x800) {
    out[0] = static_cast<char>(0xC0 | (codePoint >> 6));
    out[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 2;
  }
  if (codePoint < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (codePoint >> 12));
    out[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (codePoint >> 18));
  out[1] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (codePoint & 0x3F));
  return 4;
}

// Reads one code point of UTF-8 at source[i], advancing i; a byte that does not start a valid
// sequence gives its escaped unit and advances by one byte, so that decoding always makes
// progress and loses nothing.
uint32_t NextUtf8CodePoint(const unsigned char* source, size_t& i) {
  unsigned char lead = source[i];
  int extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2
            : (lead >> 3) == 0x1E ? 3 : -1;
  uint32_t escaped = kEscapedByteBase + lead;
  if (extra < 0) {
    i++;
    return escaped;
  }
  uint32_t codePoint = extra == 0 ? lead : lead & (0x3F >> extra);
  for (int k = 1; k <= extra; k++) {
    if ((source[i + k] & 0xC0) != 0x80) {
      i++;
      return escaped;
    }
    codePoint = (codePoint << 6) | (source[i + k] & 0x3F);
  }
  static const uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  bool valid = codePoint >= kSmallest[extra] && codePoint <= 0x10FFFF &&
               !(codePoint >= 0xD800 && codePoint <= 0xDFFF);
  i += valid ? extra + 1 : 1;
  return valid ? codePoint : escaped;
}

}  // namespace

bool Utf16ToUtf8(const char16_t* source, char* destination, size_t capacity) {
  return Utf16ToUtf8(source, TextLength(source), destination, capacity);
}

bool Utf16ToUtf8(const char16_t* source, size_t length, char* destination, size_t capacity) {
  if (capacity == 0) return false;
  size_t written = 0;
  size_t i = 0;
  while (i < length) {
    char encoded[4];
    size_t size = EncodeUtf8(NextCodePoint(source, length, i), encoded);
    if (written + size + 1 > capacity) {
      destination[0] = '\0';
      return false;
    }
    for (size_t k = 0; k < size; k++) destination[written++] = encoded[k];
  }
  destination[written] = '\0';
  return true;
}

bool Utf8ToUtf16(const char* source, char16_t* destination, size_t capacity) {
  if (capacity == 0) return false;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(source);
  size_t written = 0;
  size_t i = 0;
  while (bytes[i] != 0) {
    uint32_t codePoint = NextUtf8CodePoint(bytes, i);
    size_t size = codePoint >= 0x10000 ? 2 : 1;
    if (written + size + 1 > capacity) {
      destination[0] = u'\0';
      return false;
    }
    if (size == 2) {
      destination[written++] = static_cast<char16_t>(0xD800 + ((codePoint - 0x10000) >> 10));
      destination[written++] = static_cast<char16_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
    } else {
      destination[written++] = static_cast<char16_t>(codePoint);
    }
  }
  destination[written] = u'\0';
  return true;
}
