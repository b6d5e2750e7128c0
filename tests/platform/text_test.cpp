// UTF-16 helpers: bounded copies and exact UTF-8 conversion, surrogates included.
#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"

namespace {

TEST(Utf16ToUtf8, encodes_every_plane_replaces_lone_surrogates_and_refuses_what_does_not_fit) {
  char out[64];
  ASSERT_TRUE(Utf16ToUtf8(u"A\u00e9\u20ac\xD83D\xDE00", out, sizeof out));
  EXPECT_EQ(std::string(out), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  ASSERT_TRUE(Utf16ToUtf8(u"x\xD800y\xDC00", out, sizeof out));
  EXPECT_EQ(std::string(out), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
  EXPECT_TRUE(Utf16ToUtf8(u"abc", out, 4));
  EXPECT_FALSE(Utf16ToUtf8(u"\u20ac\u20ac", out, 4));  // and leaves it empty
  EXPECT_EQ(out[0], '\0');
}

TEST(Utf8ToUtf16, decodes_pairs_and_keeps_each_byte_of_malformed_sequences_as_its_own_unit) {
  char16_t out[32];
  ASSERT_TRUE(Utf8ToUtf16("/dev/\xF0\x9F\x98\x80\xC3\xA9", out, 32));
  EXPECT_EQ(std::u16string(out), u"/dev/\xD83D\xDE00\u00e9");
  // A stray continuation byte, an overlong "/", an encoded surrogate, and a truncated sequence:
  // U+DC00 + byte, which goes back to the byte (a POSIX file name is bytes: cli_test.cpp).
  ASSERT_TRUE(Utf8ToUtf16("\x80|\xC0\xAF|\xED\xA0\x80|\xE2\x82", out, 32));
  EXPECT_EQ(std::u16string(out), u"\xDC80|\xDCC0\xDCAF|\xDCED\xDCA0\xDC80|\xDCE2\xDC82");
  EXPECT_FALSE(Utf8ToUtf16("\xF0\x9F\x98\x80", out, 2));
  EXPECT_EQ(out[0], u'\0');
}

// (TextEqual: exact, case included, is what "probe all" is told from a port's name by, in every
// run of tests/bootloader/run_test.cpp.)
TEST(TextCopy, stays_within_capacity_and_terminates) {
  char16_t out[4] = {u'#', u'#', u'#', u'#'};
  EXPECT_EQ(TextCopy(out, 4, u"COM12"), 3u);
  EXPECT_EQ(std::u16string(out), u"COM");
  EXPECT_EQ(TextCopy(out, 0, u"x"), 0u);
}

}  // namespace
