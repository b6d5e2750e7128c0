// Bounded UTF-16 formatting: conversions, cutting, and the path variant's all-or-nothing rule.
#include <gtest/gtest.h>

#include <string>

#include "log/format.h"

namespace {

// What FormatBounded leaves in a buffer of the given capacity; "<untouched>" if it wrote nothing.
std::u16string Format(size_t capacity, const char16_t* format, auto... args) {
  char16_t buffer[400];
  std::fill_n(buffer, 400, u'#');
  size_t length = FormatBounded(buffer, capacity, format, args...);
  if (buffer[0] == u'#') return u"<untouched>";
  EXPECT_EQ(buffer[length], u'\0');
  return std::u16string(buffer, length);
}

TEST(FormatBounded, renders_each_conversion_the_system_uses_and_stops_at_one_it_cannot) {
  EXPECT_EQ(Format(100, u"%d %d", -2147483647 - 1, 2147483647), u"-2147483648 2147483647");
  EXPECT_EQ(Format(100, u"%x", 0xDEADBEEFu), u"deadbeef");
  EXPECT_EQ(Format(100, u"(%02x) %02x %02x", 0x1f, 0, 0xab), u"(1f) 00 ab");
  EXPECT_EQ(Format(100, u"%02x", 0x1f3), u"1f3");
  EXPECT_EQ(Format(100, u"open %s / %ws", u"COM3", u"C:\\f.hex"), u"open COM3 / C:\\f.hex");
  EXPECT_EQ(Format(100, u"%s", u"\xD83D\xDE00 ok"), u"\xD83D\xDE00 ok");
  // Widths, flags and the other integer conversions, as printf has them.
  EXPECT_EQ(Format(100, u"[%9d|%-4d|%05d|%-3x|%4s|%-4s]", 42, -7, -42, 0xa, u"ab", u"cd"),
            u"[       42|-7  |-0042|a  |  ab|cd  ]");
  EXPECT_EQ(Format(100, u"%u %X %i %ss %ds", 4294967295u, 0xBEEFu, 0, u"a", 0),
            u"4294967295 BEEF 0 as 0s");
  // A conversion without a fitting argument cuts the text there.
  EXPECT_EQ(Format(100, u"line %d here", u"text"), u"line ");
  EXPECT_EQ(Format(100, u"name %s here", 5), u"name ");
  EXPECT_EQ(Format(100, u"missing %d %d", 1), u"missing 1 ");
  EXPECT_EQ(Format(100, u"bad %q conversion", 1), u"bad ");
}

TEST(FormatBounded, cuts_silently_to_capacity_minus_one_and_leaves_a_buffer_of_none_alone) {
  std::u16string text79(79, u'a'), text80(80, u'b');
  EXPECT_EQ(Format(80, u"%s", text79.c_str()), text79);
  EXPECT_EQ(Format(80, u"%s", text80.c_str()), text80.substr(0, 79));
  EXPECT_EQ(Format(5, u"%d", 123456), u"1234");
  EXPECT_EQ(Format(1, u"anything"), u"");
  EXPECT_EQ(Format(0, u"x"), u"<untouched>");
  EXPECT_EQ(Format(size_t{2147483648u}, u"x"), u"<untouched>");  // above INT_MAX
}

TEST(FormatPath, stores_259_characters_and_nothing_when_the_text_is_longer) {
  char16_t path[kPathCapacity];
  std::u16string text259(259, u'p'), text260(260, u'q');
  EXPECT_EQ(FormatPath(path, u"%ws", text259.c_str()), 259u);
  EXPECT_EQ(std::u16string(path), text259);
  EXPECT_EQ(FormatPath(path, u"%ws", text260.c_str()), 0u);
  EXPECT_EQ(path[0], u'\0');
  EXPECT_EQ(FormatPath(path, u"\\\\.\\%s", u"COM5"), 8u);
  EXPECT_EQ(std::u16string(path), u"\\\\.\\COM5");
}

}  // namespace
