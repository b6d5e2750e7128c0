// Test fixtures for the HEX loader.
#include "hex_fixture.h"

#include <cstdio>
#include <fstream>
#include <random>

#include "image/firmware_image.h"
#include "log/message_log.h"
#include "platform/text.h"
#include "settings/settings.h"

const char16_t kNotValidLine[] = u"The input file is not a valid hex file.";
const char16_t kNotValidStatus[] = u"Last Status: Input file is not a valid hex file.";

std::string Record(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()),
                                static_cast<uint8_t>(address >> 8),
                                static_cast<uint8_t>(address), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
  bytes.push_back(static_cast<uint8_t>(-sum));
  std::string text = ":";
  char digits[3];
  for (uint8_t b : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", b);
    text += digits;
  }
  return text;
}

std::string BadChecksum(const std::string& record) {
  std::string text = record;
  char& last = text.back();
  last = last == '0' ? '1' : '0';
  return text;
}

std::string Upper(uint16_t upper) {
  return Record(0x04, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
}

std::string EndOfFile() { return Record(0x01, 0, {}); }

std::string Lines(const std::vector<std::string>& records, const std::string& lineEnd) {
  std::string text;
  for (const std::string& record : records) text += record + lineEnd;
  return text;
}

void HexFileTest::SetUp() {
  if (MessageLog.lock != nullptr) CloseHandle(MessageLog.lock);
  InitMessageLog();
  LogWindow = nullptr;
  SetLastStatus(u"");
  std::random_device random;
  scratch = std::filesystem::temp_directory_path() /
            ("pentrel-image-" + std::to_string(random()));
  std::filesystem::create_directories(scratch);
}

void HexFileTest::TearDown() {
  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);
}

std::filesystem::path HexFileTest::Write(const std::string& contents, const std::string& name) {
  std::filesystem::path path = scratch / name;
  std::ofstream(path, std::ios::binary) << contents;
  return path;
}

void HexFileTest::Choose(const std::filesystem::path& path) {
  std::u16string text = path.u16string();
  ASSERT_LT(text.size(), kPathCapacity);
  TextCopy(HexFileName, kPathCapacity, text.c_str());
}

int HexFileTest::Load(const std::string& contents) {
  Choose(Write(contents));
  return LoadHexFile();
}

std::vector<std::u16string> HexFileTest::Logged() const {
  std::vector<std::u16string> lines;
  for (int slot = 0; slot < MessageLog.writeIndex; slot++) {
    std::u16string line(MessageLog.ring[slot], kLogLineWidth);
    line.erase(line.find_last_not_of(u' ') + 1);
    lines.push_back(line);
  }
  return lines;
}

std::u16string HexFileTest::LastStatus() const { return MessageLog.lastStatus; }

uint8_t HexFileTest::At(uint32_t address) const {
  return FirmwareImage.bytes[address - kImageBase];
}
