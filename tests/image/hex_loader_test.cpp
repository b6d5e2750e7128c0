// LoadHexFile: what is stored, how far highestEnd reaches, and the messages and Last Status of
// every refusal, for file contents, files longer than one fill of the reader, and files that
// cannot be opened or read.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>

#include "hex_records.h"
#include "log_capture.h"
#include "image/firmware_image.h"
#include "log/message_log.h"
#include "platform/text.h"
#include "settings/settings.h"

namespace {

std::vector<uint8_t> Counting(size_t count, uint8_t first = 0) {
  std::vector<uint8_t> data(count);
  std::iota(data.begin(), data.end(), first);
  return data;
}

// The records after an upper address record for the image's first 64 KiB.
std::string InImage(std::vector<std::string> records, const std::string& end = "\n") {
  records.insert(records.begin(), Upper(0x1D00));
  return Lines(records, end);
}

using Logs = std::vector<std::u16string>;

// Files in a scratch folder, HexFileName pointed at them, and what the loader logged.
class LoadHexFileTest : public ::testing::Test {
 protected:
  std::filesystem::path scratch = std::filesystem::temp_directory_path() /
                                  ("pentrel-image-" + std::to_string(std::random_device()()));

  void SetUp() override { std::filesystem::create_directories(scratch); }
  void TearDown() override { std::filesystem::remove_all(scratch); }
  LogCapture log;

  // Points HexFileName at path, with a fresh log.
  void Choose(const std::filesystem::path& path) {
    log = LogCapture();
    SetLastStatus(u"");
    ASSERT_LT(path.u16string().size(), kPathCapacity);
    TextCopy(HexFileName, kPathCapacity, path.u16string().c_str());
  }
  // Writes contents to a file in the scratch folder, loads it with a fresh log, and returns
  // LoadHexFile's result.
  int Load(const std::string& contents) {
    std::ofstream(scratch / "image.hex", std::ios::binary) << contents;
    Choose(scratch / "image.hex");
    return LoadHexFile();
  }
  // The image byte at HEX address address.
  uint8_t At(uint32_t address) const { return FirmwareImage.bytes[address - kImageBase]; }
  // Loads a file that must be refused; logs are what it logs before the closing line.
  void Refused(const std::string& file, Logs logs = {}) {
    EXPECT_EQ(Load(file), -1) << file;
    EXPECT_EQ(std::u16string(MessageLog.lastStatus),
              u"Last Status: Input file is not a valid hex file.") << file;
    logs.push_back(u"The input file is not a valid hex file.");
    EXPECT_EQ(log.Lines(), logs) << file;
  }
};

using Stored = std::vector<std::pair<uint32_t, uint8_t>>;  // image bytes by HEX address

TEST_F(LoadHexFileTest, stores_records_in_the_window_and_leaves_every_other_byte_erased) {
  const std::string lowered = ":02002000abcd66";  // hex digits in lower case
  const struct Case {
    std::string file;
    uint32_t highestEnd;
    Stored bytes;
  } cases[] = {
      {InImage({Record(0, 0, Counting(16)), lowered, kEndOfFile}, "\r\n"), 0x1D000022,
       {{0x1D000000, 0}, {0x1D00000F, 15}, {0x1D000010, 0xFF}, {0x1D000020, 0xAB},
        {0x1D000021, 0xCD}, {0x1D000022, 0xFF}}},
      // Every load starts from erased flash: nothing of the file before survives.
      {Lines({Upper(0x1D08), Record(0, 0xFFF0, {0x11})}), 0x1D08FFF1,
       {{0x1D000000, 0xFF}, {0x1D08FFF0, 0x11}}},
      // Later records win; an empty record raises highestEnd to its address.
      {Lines({Upper(0x1D01), Record(0, 0, Counting(8, 0x10)), Record(0, 4, Counting(6, 0xE0)),
              Record(0, 0x8000, {}), Record(0, 0x0100, {})}),
       0x1D018000, {{0x1D010003, 0x13}, {0x1D010004, 0xE0}, {0x1D010009, 0xE5}, {0x1D01000A, 0xFF}}},
      // Alone at the image's start, an empty record still makes an image, ending where it starts.
      {InImage({Record(0, 0, {}), kEndOfFile}), kImageBase, {}},
      // Nothing after the end-of-file record is read; a file may do without one, or a last line end.
      {InImage({Record(0, 0, {1}), kEndOfFile, "garbage", BadChecksum(Record(0, 0, {2})),
                Record(3, 0, {})}),
       0x1D000001, {{0x1D000000, 1}}},
      {Upper(0x1D00) + "\n" + Record(0, 0, {2}), 0x1D000001, {{0x1D000000, 2}}},
      // The bytes of a record that runs past the image are dropped; highestEnd stays at its end.
      {Lines({Upper(0x1D08), Record(0, 0xFFF8, Counting(16, 1))}), kImageBase + kImageSize,
       {{0x1D08FFF8, 1}, {0x1D08FFFF, 8}}},
      {Lines({Upper(0x1D08), Record(0, 0xFFFF, Counting(44, 1))}), kImageBase + kImageSize,
       {{0x1D08FFFF, 1}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Load(c.file), 0) << c.file;
    EXPECT_EQ(FirmwareImage.highestEnd, c.highestEnd) << c.file;
    EXPECT_EQ(log.Lines(), Logs{}) << c.file;
    EXPECT_EQ(std::u16string(MessageLog.lastStatus), u"") << c.file;
    for (auto [address, value] : c.bytes) EXPECT_EQ(At(address), value) << std::hex << address;
  }
}

TEST_F(LoadHexFileTest, refuses_a_file_with_the_message_of_its_first_fault) {
  const Logs checksum1 = {u"Checksum error, line 1"};
  std::string whole = Record(0, 0x0000, Counting(4));
  std::string withNul = whole;
  withNul[11] = '\0';  // in place of a 0 digit: read as one, the checksum would hold
  std::string longest = Record(0, 0x0100, Counting(44, 0x80));  // 99 characters
  const struct Case {
    std::string file;
    Logs logs;  // before the closing line
    Stored bytes;
  } cases[] = {
      // Records outside the image are skipped, never stored, and a file of only those is empty.
      {Lines({Record(0, 0, {1, 2}), Upper(0x1CFF), Record(0, 0xFFFF, {3}), Upper(0x1D09),
              Record(0, 0, {4}), Upper(0xFFFF), Record(0, 0, {5})}),
       {}, {{0x1D000000, 0xFF}, {0x1D00FFFF, 0xFF}, {0x1D08FFFF, 0xFF}}},
      // ...but still checked.
      {InImage({Record(0, 0, {1}), Upper(0x1D09), BadChecksum(Record(0, 0, {4}))}),
       {u"Checksum error, line 3"}, {}},
      // Lines are numbered from 0, skipped ones counted; what came before the error stays stored
      // and nothing after it is read.
      {Lines({"", " " + Record(0, 0, {1}), "", "; comment", Upper(0x1D00), Record(0, 0, {0x5A}),
              BadChecksum(Record(0, 0, {9})), Record(0, 0x10, {7})}),
       {u"Checksum error, line 6"}, {{0x1D000000, 0x5A}, {0x1D000010, 0xFF}}},
      // Unknown record types, after their checksum.
      {InImage({Record(0, 0, {1}), Record(0xA0, 0, {0, 0})}),
       {u"Unknown opcode 0xa0, line 2 in hex file."}, {}},
      {InImage({BadChecksum(Record(0x05, 0, {}))}), checksum1, {}},
      {InImage({Record(0, 0, {1}), BadChecksum(kEndOfFile)}), {u"Checksum error, line 2"}, {}},
      // Nothing before the end-of-file record.
      {Lines({kEndOfFile, Upper(0x1D00), Record(0, 0, {1})}), {}, {}},
      // The longest record's line end comes as a read of its own, still on its line.
      {InImage({longest, BadChecksum(Record(0, 0, {}))}, "\r\n"), {u"Checksum error, line 3"},
       {{0x1D000100, 0x80}, {0x1D00012B, 0x80 + 43}}},
      // Records shorter than their byte count calls for, however they are cut.
      {InImage({whole.substr(0, 17), Record(0, 0x40, {1})}), checksum1, {{0x1D000000, 0xFF}}},
      {InImage({whole.substr(0, 18)}), checksum1, {}},
      {InImage({whole.substr(0, 9)}), checksum1, {}},
      {InImage({":"}), checksum1, {}},
      {InImage({Record(0, 0, Counting(45))}), checksum1, {}},  // 101 characters
      {InImage({withNul}), checksum1, {{0x1D000000, 0xFF}}},
      // Would add up to 0 if the missing checksum digits were read as zeros.
      {InImage({Record(0, 0, {0xFF}).substr(0, 11)}), checksum1, {}},
      {InImage({Record(0, 0, {0x0F}).substr(0, 12)}), checksum1, {}},  // ...or the end
      // A line of 20,001 characters with its end counts as its 203 reads.
      {std::string(20000, 'x') + "\n" + InImage({Record(0x02, 0, {0, 0})}),
       {u"Unknown opcode 0x02, line 204 in hex file."}, {}},
      {":" + std::string(20000, 'F') + "\n", {u"Checksum error, line 0"}, {}},
  };
  for (const Case& c : cases) {
    Refused(c.file, c.logs);
    for (auto [address, value] : c.bytes) EXPECT_EQ(At(address), value) << std::hex << address;
  }
  // Files that hold no records, whatever else they hold (lone CRs end no line).
  std::string garbage(4096, '\0');
  std::mt19937 random(7);
  for (char& c : garbage) c = static_cast<char>(random());
  for (const std::string& file : {std::string(), std::string("\n\r\n"), garbage,
                                  std::string(1000, '\0'), std::string(20000, 'F') + "\n",
                                  InImage({whole, longest}, "\r")}) {
    Refused(file);
  }
}

// A file longer than the reader's 64 KiB fill: records read whole across fills, and a CR LF
// that a fill splits, wherever the CR falls, still one line end.
TEST_F(LoadHexFileTest, reads_records_and_numbers_lines_across_the_readers_64_KiB_fills) {
  std::vector<uint8_t> stored = Counting(16 * 1500);
  std::vector<std::string> records(1);
  for (auto at = stored.begin(); at != stored.end(); at += 16) {  // 45 characters with CR LF
    records.push_back(Record(0, static_cast<uint16_t>(at - stored.begin()), {at, at + 16}));
  }
  records.push_back(BadChecksum(Record(0, 0, {1})));
  for (size_t crAt : {65534u, 65535u, 65536u}) {
    // Characters after the upper address record's own shift the CRs to crAt.
    records[0] = Upper(0x1D00) + std::string((crAt - 60) % 45, 'x');
    Refused(Lines(records, "\r\n"), {u"Checksum error, line 1501"});
    EXPECT_TRUE(std::equal(stored.begin(), stored.end(), FirmwareImage.bytes)) << crAt;
  }
}

// LoadHexFile and the file system: names that open nothing, the longest path, unreadable files,
// and the image left erased after any failure.
const std::string kGoodFile = InImage({Record(0, 0, {0x42}), kEndOfFile});

TEST_F(LoadHexFileTest, a_name_that_opens_nothing_is_reported_and_leaves_the_image_erased) {
  // Between failures, a good file of the longest path a name holds, 259 characters; folders
  // stay short of the 248 characters that Windows allows a folder's path.
  std::filesystem::path longest = scratch / std::string(8, 'd');
  while (longest.u16string().size() < 200) longest /= std::string(8, 'd');
  std::filesystem::create_directories(longest);
  longest /= std::string(259 - longest.u16string().size() - 1, 'f');
  std::ofstream(longest, std::ios::binary) << kGoodFile;
  // A setting filled to its last unit without a terminator is not read past its end.
  std::u16string full = scratch.u16string() + u"/" + std::u16string(kPathCapacity, u'u');
  for (const std::u16string& setting : {(scratch / "none.hex").u16string(), scratch.u16string(),
                                        std::u16string(), full.substr(0, kPathCapacity)}) {
    Choose(longest);
    ASSERT_EQ(LoadHexFile(), 0);
    ASSERT_EQ(At(kImageBase), 0x42);
    Choose(scratch);  // for a fresh log
    std::fill_n(HexFileName, kPathCapacity, u'\0');
    std::copy(setting.begin(), setting.end(), HexFileName);
    EXPECT_EQ(LoadHexFile(), -1);
    // The log line is cut to the log's width, as it is shown.
    std::u16string line = setting.empty() ? u"Unable to open input file"
                                          : u"Unable to open input file " + setting;
    EXPECT_EQ(log.Lines(), Logs{line.substr(0, kLogLineWidth - 1)});
    EXPECT_EQ(std::u16string(MessageLog.lastStatus), u"Last Status: Unable to open input file.");
    EXPECT_EQ(FirmwareImage.highestEnd, 0u);
    EXPECT_EQ(At(kImageBase), 0xFF);
  }
}

#ifndef _WIN32
TEST_F(LoadHexFileTest, a_file_that_cannot_be_read_is_reported_not_accepted_in_part) {
  // The start of a process's own memory map is never mapped, so reading it fails with EIO.
  Choose("/proc/self/mem");
  EXPECT_EQ(LoadHexFile(), -1);
  EXPECT_EQ(log.Lines(), Logs{u"Unable to read input file /proc/self/mem"});
  EXPECT_EQ(std::u16string(MessageLog.lastStatus), u"Last Status: Unable to read input file.");
}
#endif

}  // namespace
