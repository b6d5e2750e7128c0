// LoadHexFile on file contents: what is stored, how far highestEnd reaches, and the messages and
// Last Status of every refusal.
#include "hex_fixture.h"

namespace {

std::vector<uint8_t> Counting(size_t count, uint8_t first = 0) {
  std::vector<uint8_t> data(count);
  for (size_t i = 0; i < count; i++) data[i] = static_cast<uint8_t>(first + i);
  return data;
}

using LoadHexFileTest = HexFileTest;

TEST_F(LoadHexFileTest, stores_records_in_the_window_and_leaves_every_other_byte_erased) {
  std::string lowered = Record(0, 0x0020, {0xAB, 0xCD});
  for (char& c : lowered) c = static_cast<char>(std::tolower(c));
  EXPECT_EQ(Load(Lines({Upper(0x1D00), Record(0, 0, Counting(16)), lowered, kEndOfFile}, "\r\n")),
            0);
  EXPECT_EQ(FirmwareImage.highestEnd, 0x1D000022u);
  for (uint32_t i = 0; i < 16; i++) EXPECT_EQ(At(0x1D000000 + i), i);
  EXPECT_EQ(At(0x1D000010), 0xFF);  // the gap between the records
  EXPECT_EQ(At(0x1D000020), 0xAB);
  EXPECT_EQ(At(0x1D000021), 0xCD);
  EXPECT_EQ(At(0x1D000022), 0xFF);
  EXPECT_EQ(Logged(), Logs{});
  EXPECT_EQ(std::u16string(MessageLog.lastStatus), u"");

  // Every load starts from erased flash: nothing of the first file survives the second.
  EXPECT_EQ(Load(Lines({Upper(0x1D08), Record(0, 0xFFF0, {0x11})})), 0);
  EXPECT_EQ(At(0x1D000000), 0xFF);
  EXPECT_EQ(At(0x1D08FFF0), 0x11);
  EXPECT_EQ(FirmwareImage.highestEnd, 0x1D08FFF1u);
}

TEST_F(LoadHexFileTest, later_records_win_and_an_empty_record_raises_highest_end_to_its_address) {
  EXPECT_EQ(Load(Lines({Upper(0x1D01), Record(0, 0x0000, Counting(8, 0x10)),
                        Record(0, 0x0004, std::vector<uint8_t>(6, 0xEE)), Record(0, 0x8000, {}),
                        Record(0, 0x0100, {})})),
            0);
  EXPECT_EQ(At(0x1D010003), 0x13);
  EXPECT_EQ(At(0x1D010004), 0xEE);
  EXPECT_EQ(At(0x1D010009), 0xEE);
  EXPECT_EQ(At(0x1D01000A), 0xFF);
  EXPECT_EQ(FirmwareImage.highestEnd, 0x1D018000u);
  // Alone at the image's start, an empty record still makes an image, which ends where it starts.
  EXPECT_EQ(Load(Lines({Upper(0x1D00), Record(0, 0, {}), kEndOfFile})), 0);
  EXPECT_EQ(FirmwareImage.highestEnd, kImageBase);
}

TEST_F(LoadHexFileTest, stops_at_the_end_of_file_record_and_does_without_one) {
  EXPECT_EQ(Load(Lines({Upper(0x1D00), Record(0, 0, {1}), kEndOfFile, "garbage",
                        BadChecksum(Record(0, 0, {2})), Record(3, 0, {})})),
            0);
  EXPECT_EQ(At(0x1D000000), 1);
  EXPECT_EQ(Logged(), Logs{});
  EXPECT_EQ(Load(Upper(0x1D00) + "\n" + Record(0, 0, {2})), 0);  // no line end at all at the end
  EXPECT_EQ(At(0x1D000000), 2);
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

TEST_F(LoadHexFileTest, refuses_a_file_with_the_message_of_its_first_fault) {
  const Logs checksum1 = {u"Checksum error, line 1", kNotValidLine};
  const Logs notValid = {kNotValidLine};
  std::string spaced = " " + Record(0, 0, {1});
  std::string whole = Record(0, 0x0000, Counting(4));
  std::string withNul = whole;
  withNul[11] = '\0';  // in place of a 0 digit: read as one, the checksum would hold
  std::string longest = Record(0, 0x0100, Counting(44, 0x80));  // 99 characters
  std::string garbage(4096, '\0');
  std::mt19937 random(7);
  for (char& c : garbage) c = static_cast<char>(random());
  struct Case {
    std::string file;
    Logs logs;  // empty: only the last line is checked
    std::vector<std::pair<uint32_t, uint8_t>> bytes;
  } cases[] = {
      // Records outside the image are skipped, never stored, and a file of only those is empty.
      {Lines({Record(0, 0, {1, 2}), Upper(0x1CFF), Record(0, 0xFFFF, {3}), Upper(0x1D09),
              Record(0, 0, {4}), Upper(0xFFFF), Record(0, 0, {5})}),
       notValid, {{0x1D000000, 0xFF}, {0x1D00FFFF, 0xFF}, {0x1D08FFFF, 0xFF}}},
      // ...but still checked.
      {Lines({Upper(0x1D00), Record(0, 0, {1}), Upper(0x1D09), BadChecksum(Record(0, 0, {4}))}),
       {u"Checksum error, line 3", kNotValidLine}, {}},
      // Lines are numbered from 0, skipped ones counted; what came before the error stays stored
      // and nothing after it is read.
      {Lines({"", spaced, "; comment", Upper(0x1D00), Record(0, 0, {0x5A}),
              BadChecksum(Record(0, 0, {9})), Record(0, 0x10, {7})}),
       {u"Checksum error, line 5", kNotValidLine}, {{0x1D000000, 0x5A}, {0x1D000010, 0xFF}}},
      // Unknown record types, after their checksum.
      {Lines({Upper(0x1D00), Record(0, 0, {1}), Record(0x02, 0, {0, 0})}),
       {u"Unknown opcode 0x02, line 2 in hex file.", kNotValidLine}, {}},
      {Lines({Upper(0x1D00), Record(0, 0, {1}), Record(0xA0, 0, {0, 0})}),
       {u"Unknown opcode 0xa0, line 2 in hex file.", kNotValidLine}, {}},
      {Lines({Upper(0x1D00), Record(0x03, 0, {0, 0})}),
       {u"Unknown opcode 0x03, line 1 in hex file.", kNotValidLine}, {}},
      {Lines({Upper(0x1D00), Record(0x05, 0, {0, 0})}),
       {u"Unknown opcode 0x05, line 1 in hex file.", kNotValidLine}, {}},
      {Lines({Upper(0x1D00), BadChecksum(Record(0x05, 0, {}))}), checksum1, {}},
      {Lines({Upper(0x1D00), Record(0, 0, {1}), BadChecksum(kEndOfFile)}),
       {u"Checksum error, line 2", kNotValidLine}, {}},
      // Nothing before the end-of-file record.
      {Lines({kEndOfFile, Upper(0x1D00), Record(0, 0, {1})}), notValid, {}},
      // The longest record's line end comes as a read of its own, still on its line.
      {Lines({Upper(0x1D00), longest, BadChecksum(Record(0, 0, {}))}, "\r\n"),
       {u"Checksum error, line 3", kNotValidLine}, {{0x1D000100, 0x80}, {0x1D00012B, 0x80 + 43}}},
      // Records shorter than their byte count calls for, however they are cut.
      {Lines({Upper(0x1D00), whole.substr(0, 17), Record(0, 0x40, {1})}), checksum1,
       {{0x1D000000, 0xFF}}},
      {Lines({Upper(0x1D00), whole.substr(0, 18)}), checksum1, {}},
      {Lines({Upper(0x1D00), whole.substr(0, 9)}), checksum1, {}},
      {Lines({Upper(0x1D00), ":"}), checksum1, {}},
      {Lines({Upper(0x1D00), Record(0, 0, Counting(45))}), checksum1, {}},  // 101 characters
      {Lines({Upper(0x1D00), withNul}), checksum1, {{0x1D000000, 0xFF}}},
      // Would add up to 0 if the missing checksum digits were read as zeros.
      {Lines({Upper(0x1D00), Record(0, 0, {0xFF}).substr(0, 11)}), checksum1, {}},
      {Lines({Upper(0x1D00), Record(0, 0, {0x0F}).substr(0, 12)}), checksum1, {}},  // ...or the end
      // A line of 20,001 characters with its end counts as its 203 reads.
      {std::string(20000, 'x') + "\n" + Lines({Upper(0x1D00), Record(0x02, 0, {0, 0})}),
       {u"Unknown opcode 0x02, line 204 in hex file.", kNotValidLine}, {}},
      {":" + std::string(20000, 'F') + "\n", {u"Checksum error, line 0", kNotValidLine}, {}},
      // Files that hold no records.
      {"", {}, {}},
      {"\n\r\n", {}, {}},
      {garbage, {}, {}},
      {std::string(1000, '\0'), {}, {}},
      {std::string(20000, 'F') + "\n", {}, {}},
      {Lines({Upper(0x1D00), Record(0, 0, Counting(16)), Record(0, 0x10, Counting(16))}, "\r"),
       {}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Load(c.file), -1) << c.file;
    Logs logged = Logged();
    if (c.logs.empty()) {
      ASSERT_FALSE(logged.empty()) << c.file;
      EXPECT_EQ(logged.back(), kNotValidLine) << c.file;
    } else {
      EXPECT_EQ(logged, c.logs) << c.file;
    }
    EXPECT_EQ(std::u16string(MessageLog.lastStatus), kNotValidStatus) << c.file;
    for (auto [address, value] : c.bytes) EXPECT_EQ(At(address), value) << std::hex << address;
  }
}

}  // namespace
