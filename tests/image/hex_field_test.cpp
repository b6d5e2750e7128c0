// ParseHexField: digits of either case, non-digits as 0, and fields cut short by the text's end.
#include <gtest/gtest.h>

#include <string>

#include "image/firmware_image.h"

namespace {

TEST(ParseHexField, reads_its_own_digits_of_either_case_and_stops_at_the_texts_end) {
  struct Case {
    std::string text;
    int digits;
    uint32_t value;
  } cases[] = {
      {"1D", 2, 0x1D}, {"1d", 2, 0x1D}, {"aBcD", 4, 0xABCD}, {"09fF", 4, 0x09FF},
      {"12345", 2, 0x12},  // only its own digits
      {"g1", 2, 0x01}, {" :\n7", 4, 0x0007},  // other characters count as zero
      // The end of the text stops the field without shifting further.
      {"", 4, 0}, {"A", 2, 0xA}, {std::string("1D\0" "9", 4), 4, 0x1D},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseHexField(c.text.c_str(), c.digits), c.value) << c.text;
}

}  // namespace
