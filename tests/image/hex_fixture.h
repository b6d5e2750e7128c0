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

#include "hex_records.h"
#include "image/firmware_image.h"
#include "log/message_log.h"
#include "platform/text.h"
#include "settings/settings.h"

using Logs = std::vector<std::u16string>;
inline const char16_t kNotValidLine[] = u"The input file is not a valid hex file.";
inline const char16_t kNotValidStatus[] = u"Last Status: Input file is not a valid hex file.";

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
