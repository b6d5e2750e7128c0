// LoadHexFile on file contents: what is stored, how far highestEnd reaches, and the messages and
// Last Status of every refusal.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "hex_fixture.h"
#include "image/firmware_image.h"
#include "log/message_log.h"

namespace {

using Logs = std::vector<std::u16string>;

std::vector<uint8_t> Counting(size_t count, uint8_t first = 0) {
  std::vector<uint8_t> data(count);
  for (size_t i = 0; i < count; i++) data[i] = static_cast<uint8_t>(first + i);
  return data;
}

std::string Lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

using LoadHexFileTest = HexFileTest;

TEST_F(LoadHexFileTest, stores_records_in_the_window_and_leaves_every_other_byte_erased) {
  std::string file = Lines({Upper(0x1D00), Record(0, 0x0000, Counting(16)),
                            Lowered(Record(0, 0x0020, {0xAB, 0xCD})), EndOfFile()},
                           "\r\n");
  EXPECT_EQ(Load(file), 0);
  EXPECT_EQ(FirmwareImage.highestEnd, 0x1D000022u);
  for (uint32_t i = 0; i < 16; i++) EXPECT_EQ(At(0x1D000000 + i), i);
  EXPECT_EQ(At(0x1D000010), 0xFF);  // the gap between the records
  EXPECT_EQ(At(0x1D000020), 0xAB);
  EXPECT_EQ(At(0x1D000021), 0xCD);
  EXPECT_EQ(At(0x1D000022), 0xFF);
  EXPECT_EQ(Logged(), Logs{});
  EXPECT_EQ(LastStatus(), u"");

  // Every load starts from erased flash: nothing of the first file survives the second.
  EXPECT_EQ(Load(Lines({Upper(0x1D08), Record(0, 0xFFF0, {0x11})})), 0);
  EXPECT_EQ(At(0x1D000000), 0xFF);
  EXPECT_EQ(At(0x1D08FFF0), 0x11);
  EXPECT_EQ(FirmwareImage.highestEnd, 0x1D08FFF1u);
}

TEST_F(LoadHexFileTest, later_records_win_and_an_empty_record_raises_highest_end_to_its_address) {
  std::string file = Lines({Upper(0x1D01), Record(0, 0x0000, Counting(8, 0x10)),
                            Record(0, 0x0004, {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}),
                            Record(0, 0x8000, {}), Record(0, 0x0100, {})});
  EXPECT_EQ(Load(file), 0);
  EXPECT_EQ(At(0x1D010003), 0x13);
  EXPECT_EQ(At(0x1D010004), 0xEE);
  EXPECT_EQ(At(0x1D010009), 0xEE);
  EXPECT_EQ(At(0x1D01000A), 0xFF);
  EXPECT_EQ(FirmwareImage.highestEnd, 0x1D018000u);
}

TEST_F(LoadHexFileTest, skips_records_outside_the_image_but_still_checks_them) {
  std::string outside = Lines({Record(0, 0x0000, {1, 2}), Upper(0x1CFF), Record(0, 0xFFFF, {3}),
                               Upper(0x1D09), Record(0, 0x0000, {4}), Upper(0xFFFF),
                               Record(0, 0x0000, {5})});
  EXPECT_EQ(Load(outside), -1);
  EXPECT_EQ(Logged(), Logs{kNotValidLine});
  EXPECT_EQ(LastStatus(), kNotValidStatus);
  for (uint32_t k = 0; k < kImageSize; k += 0x1000) ASSERT_EQ(FirmwareImage.bytes[k], 0xFF);

  SetUp();
  EXPECT_EQ(Load(Lines({Upper(0x1D00), Record(0, 0, {1}), Upper(0x1D09),
                        BadChecksum(Record(0, 0, {4}))})),
            -1);
  EXPECT_EQ(Logged(), (Logs{u"Checksum error, line 3", kNotValidLine}));
}

TEST_F(LoadHexFileTest, counts_skipped_lines_numbers_from_zero_and_stops_at_the_first_error) {
  std::string spaced = " ";
  spaced += Record(0, 0, {1});
  std::string file = Lines({"", spaced, "; comment", Upper(0x1D00), Record(0, 0, {0x5A}),
                            BadChecksum(Record(0, 0, {9})), Record(0, 0x10, {7})});
  EXPECT_EQ(Load(file), -1);
  EXPECT_EQ(Logged(), (Logs{u"Checksum error, line 5", kNotValidLine}));
  EXPECT_EQ(LastStatus(), kNotValidStatus);
  EXPECT_EQ(At(0x1D000000), 0x5A);  // what came before the error stays stored
  EXPECT_EQ(At(0x1D000010), 0xFF);  // nothing after it is read
}

TEST_F(LoadHexFileTest, refuses_unknown_record_types_after_checking_them) {
  for (uint8_t type : {0x02, 0x03, 0x05, 0xA0}) {
    SetUp();
    EXPECT_EQ(Load(Lines({Upper(0x1D00), Record(0, 0, {1}), Record(type, 0, {0, 0})})), -1);
    char16_t expected[64];
    FormatBounded(expected, 64, u"Unknown opcode 0x%02x, line 2 in hex file.", type);
    EXPECT_EQ(Logged(), (Logs{expected, kNotValidLine}));
    EXPECT_EQ(LastStatus(), kNotValidStatus);
  }
  SetUp();
  EXPECT_EQ(Load(Lines({Upper(0x1D00), BadChecksum(Record(0x05, 0, {}))})), -1);
  EXPECT_EQ(Logged(), (Logs{u"Checksum error, line 1", kNotValidLine}));
}

TEST_F(LoadHexFileTest, stops_at_the_end_of_file_record_and_does_without_one) {
  EXPECT_EQ(Load(Lines({Upper(0x1D00), Record(0, 0, {1}), EndOfFile(), "garbage",
                        BadChecksum(Record(0, 0, {2})), Record(3, 0, {})})),
            0);
  EXPECT_EQ(At(0x1D000000), 1);
  EXPECT_EQ(Logged(), Logs{});

  EXPECT_EQ(Load(Upper(0x1D00) + "\n" + Record(0, 0, {2})), 0);  // no line end at all at the end
  EXPECT_EQ(At(0x1D000000), 2);

  EXPECT_EQ(Load(Lines({EndOfFile(), Upper(0x1D00), Record(0, 0, {1})})), -1);
  EXPECT_EQ(Logged(), Logs{kNotValidLine});
}

TEST_F(LoadHexFileTest, refuses_a_file_whose_only_record_in_the_image_is_empty_at_its_start) {
  EXPECT_EQ(Load(Lines({Upper(0x1D00), Record(0, 0x0000, {}), EndOfFile()})), -1);
  EXPECT_EQ(Logged(), Logs{kNotValidLine});
  EXPECT_EQ(LastStatus(), kNotValidStatus);
}

TEST_F(LoadHexFileTest, takes_a_44_byte_record_whose_line_end_comes_as_a_read_of_its_own) {
  std::string longest = Record(0, 0x0100, Counting(44, 0x80));
  ASSERT_EQ(longest.size(), 99u);
  EXPECT_EQ(Load(Lines({Upper(0x1D00), longest, BadChecksum(Record(0, 0, {}))}, "\r\n")), -1);
  EXPECT_EQ(Logged(), (Logs{u"Checksum error, line 3", kNotValidLine}));
  EXPECT_EQ(At(0x1D000100), 0x80);
  EXPECT_EQ(At(0x1D00012B), 0x80 + 43);
}

TEST_F(LoadHexFileTest, refuses_records_shorter_than_their_byte_count_calls_for) {
  std::string whole = Record(0, 0x0000, Counting(4));
  std::string tooLong = Record(0, 0x0000, Counting(45));  // 101 characters: two reads
  std::string withNul = whole;
  withNul[12] = '\0';
  // Without its checksum this one would add up to 0 if the missing digits were read as zeros.
  std::string sumsToZero = Record(0, 0x0000, {0xFF}).substr(0, 11);
  for (const std::string& record :
       {whole.substr(0, whole.size() - 2), whole.substr(0, whole.size() - 1),
        whole.substr(0, 9), std::string(":"), tooLong, withNul, sumsToZero}) {
    SetUp();
    EXPECT_EQ(Load(Lines({Upper(0x1D00), record, Record(0, 0x40, {1})})), -1) << record;
    EXPECT_EQ(Logged(), (Logs{u"Checksum error, line 1", kNotValidLine})) << record;
    EXPECT_EQ(At(0x1D000000), 0xFF) << record;
  }
}

TEST_F(LoadHexFileTest, drops_the_bytes_of_a_record_that_runs_past_the_image) {
  EXPECT_EQ(Load(Lines({Upper(0x1D08), Record(0, 0xFFF8, Counting(16, 1))})), 0);
  EXPECT_EQ(At(0x1D08FFF8), 1);
  EXPECT_EQ(At(0x1D08FFFF), 8);
  // Nothing written past bytes: highestEnd sits right behind them and stays at the image's end.
  EXPECT_EQ(FirmwareImage.highestEnd, kImageBase + kImageSize);

  EXPECT_EQ(Load(Lines({Upper(0x1D08), Record(0, 0xFFFF, Counting(44, 1))})), 0);
  EXPECT_EQ(At(0x1D08FFFF), 1);
  EXPECT_EQ(FirmwareImage.highestEnd, kImageBase + kImageSize);
}

TEST_F(LoadHexFileTest, refuses_files_that_hold_no_records_with_a_message) {
  std::string garbage(4096, '\0');
  std::mt19937 random(7);
  for (char& c : garbage) c = static_cast<char>(random());
  std::string crOnly = Lines({Upper(0x1D00), Record(0, 0, Counting(16)),
                              Record(0, 0x10, Counting(16)), Record(0, 0x20, Counting(16))},
                             "\r");
  for (const std::string& file : {std::string(), std::string("\n\r\n"), garbage,
                                  std::string(1000, '\0'), std::string(20000, 'F') + "\n",
                                  crOnly}) {
    SetUp();
    EXPECT_EQ(Load(file), -1);
    ASSERT_FALSE(Logged().empty());
    EXPECT_EQ(Logged().back(), kNotValidLine);
    EXPECT_EQ(LastStatus(), kNotValidStatus);
  }
}

TEST_F(LoadHexFileTest, counts_a_line_of_20000_characters_as_its_reads) {
  // 20,001 characters with the line end take 203 reads of at most 99.
  std::string file = std::string(20000, 'x') + "\n" +
                     Lines({Upper(0x1D00), Record(0, 0, {1}), Record(0x02, 0, {0, 0})});
  EXPECT_EQ(Load(file), -1);
  EXPECT_EQ(Logged().front(), u"Unknown opcode 0x02, line 205 in hex file.");

  SetUp();
  EXPECT_EQ(Load(":" + std::string(20000, 'F') + "\n"), -1);
  EXPECT_EQ(Logged(), (Logs{u"Checksum error, line 0", kNotValidLine}));
}

}  // namespace
