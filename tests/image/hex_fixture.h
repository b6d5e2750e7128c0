// Test fixtures for the HEX loader: building records with their checksums, writing files in a
// scratch folder, pointing HexFileName at them, and reading back what the loader logged.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "image/firmware_image.h"
#include "log/message_log.h"
#include "platform/text.h"
#include "settings/settings.h"

using Logs = std::vector<std::u16string>;
inline const char16_t kNotValidLine[] = u"The input file is not a valid hex file.";
inline const char16_t kNotValidStatus[] = u"Last Status: Input file is not a valid hex file.";

// One record with a correct checksum, e.g. Record(0x04, 0, {0x1D, 0x00}) is ":020000041D00DD".
inline std::string Record(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()),
                                static_cast<uint8_t>(address >> 8),
                                static_cast<uint8_t>(address), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum - b);
  bytes.push_back(sum);
  std::string text = ":";
  char digits[3];
  for (uint8_t b : bytes) text += (std::snprintf(digits, sizeof digits, "%02X", b), digits);
  return text;
}
// The same record with its checksum off.
inline std::string BadChecksum(std::string record) {
  record.back() = record.back() == '0' ? '1' : '0';
  return record;
}
// The type 04 record that sets the upper address.
inline std::string Upper(uint16_t upper) {
  return Record(0x04, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
}
inline const std::string kEndOfFile = ":00000001FF";
// Records joined with the line end, which also ends the last one.
inline std::string Lines(const std::vector<std::string>& records, const std::string& end = "\n") {
  std::string text;
  for (const std::string& record : records) text += record + end;
  return text;
}

class HexFileTest : public ::testing::Test {
 protected:
  std::filesystem::path scratch = std::filesystem::temp_directory_path() /
                                  ("pentrel-image-" + std::to_string(std::random_device()()));

  void SetUp() override {
    std::filesystem::create_directories(scratch);
    ResetLog();
  }
  void TearDown() override { std::filesystem::remove_all(scratch); }
  void ResetLog() {
    if (MessageLog.lock != nullptr) CloseHandle(MessageLog.lock);
    InitMessageLog();
    LogWindow = nullptr;
    SetLastStatus(u"");
  }
  // Writes contents to a file in the scratch folder and returns its path.
  std::filesystem::path Write(const std::string& contents, const std::string& name = "image.hex") {
    std::ofstream(scratch / name, std::ios::binary) << contents;
    return scratch / name;
  }
  // Points HexFileName at path.
  void Choose(const std::filesystem::path& path) {
    ASSERT_LT(path.u16string().size(), kPathCapacity);
    TextCopy(HexFileName, kPathCapacity, path.u16string().c_str());
  }
  // Writes contents, loads it with a fresh log, and returns LoadHexFile's result.
  int Load(const std::string& contents) {
    ResetLog();
    Choose(Write(contents));
    return LoadHexFile();
  }
  // The lines logged since the log was reset, padding removed.
  Logs Logged() const {
    Logs lines;
    for (int slot = 0; slot < MessageLog.writeIndex; slot++) {
      std::u16string line(MessageLog.ring[slot], kLogLineWidth);
      lines.push_back(line.erase(line.find_last_not_of(u' ') + 1));
    }
    return lines;
  }
  // The image byte at HEX address address.
  uint8_t At(uint32_t address) const { return FirmwareImage.bytes[address - kImageBase]; }
};
