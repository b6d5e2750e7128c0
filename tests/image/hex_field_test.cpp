// ParseHexField: digits of either case, non-digits as 0, and fields cut short by the text's end.
#include <gtest/gtest.h>

#include "image/firmware_image.h"

namespace {

TEST(ParseHexField, reads_upper_and_lower_case_digits_alike) {
  EXPECT_EQ(ParseHexField("1D", 2), 0x1Du);
  EXPECT_EQ(ParseHexField("1d", 2), 0x1Du);
  EXPECT_EQ(ParseHexField("aBcD", 4), 0xABCDu);
  EXPECT_EQ(ParseHexField("09fF", 4), 0x09FFu);
}

TEST(ParseHexField, reads_only_its_own_digits_and_counts_other_characters_as_zero) {
  EXPECT_EQ(ParseHexField("12345", 2), 0x12u);
  EXPECT_EQ(ParseHexField("g1", 2), 0x01u);
  EXPECT_EQ(ParseHexField(" :\n7", 4), 0x0007u);
}

TEST(ParseHexField, stops_at_the_end_of_the_text_without_shifting_further) {
  EXPECT_EQ(ParseHexField("", 4), 0u);
  EXPECT_EQ(ParseHexField("A", 2), 0xAu);
  EXPECT_EQ(ParseHexField("1D\0" "9", 4), 0x1Du);
}

}  // namespace
