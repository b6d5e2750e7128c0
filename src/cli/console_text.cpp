// UTF-16 and UTF-8 at the front end's edge.
#include "cli/console_text.h"

#include <vector>

#include "platform/text.h"  // brings <windows.h>, whose WriteConsole macro console.h must see

#include "platform/console.h"

std::string Utf8Of(const char16_t* text) {
  // Every code unit gives at most 3 bytes (a surrogate pair 4 for 2).
  std::vector<char> buffer(3 * TextLength(text) + 1);
  Utf16ToUtf8(text, buffer.data(), buffer.size());
  return buffer.data();
}

std::u16string Utf16Of(const std::string& text) {
  std::vector<char16_t> buffer(text.size() + 1);
  Utf8ToUtf16(text.c_str(), buffer.data(), buffer.size());
  return buffer.data();
}

void PrintText(bool toError, const std::string& text) {
  std::u16string wide = Utf16Of(text);
  WriteConsole(toError, wide.data(), wide.size(), false);
}

void PrintLine(bool toError, const std::string& text) {
  std::u16string wide = Utf16Of(text);
  WriteConsole(toError, wide.data(), wide.size(), true);
}
