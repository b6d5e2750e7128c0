// Test fixtures for the HEX loader: files in a scratch folder, HexFileName pointed at them, and
// what the loader logged.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "hex_records.h"
#include "image/firmware_image.h"
#include "log/message_log.h"
#include "platform/text.h"
#include "settings/settings.h"

using Logs = std::vector<std::u16string>;

class HexFileTest : public ::testing::Test {
 protected:
  std::filesystem::path scratch = std::filesystem::temp_directory_path() /
                                  ("pentrel-image-" + std::to_string(std::random_device()()));

  void SetUp() override { std::filesystem::create_directories(scratch); }
  void TearDown() override { std::filesystem::remove_all(scratch); }
  // Writes contents to a file in the scratch folder and returns its path.
  std::filesystem::path Write(const std::string& contents) {
    std::ofstream(scratch / "image.hex", std::ios::binary) << contents;
    return scratch / "image.hex";
  }
  // Points HexFileName at path, with a fresh log.
  void Choose(const std::filesystem::path& path) {
    if (MessageLog.lock != nullptr) CloseHandle(MessageLog.lock);
    InitMessageLog();
    LogWindow = nullptr;
    SetLastStatus(u"");
    ASSERT_LT(path.u16string().size(), kPathCapacity);
    TextCopy(HexFileName, kPathCapacity, path.u16string().c_str());
  }
  // Writes contents, loads it with a fresh log, and returns LoadHexFile's result.
  int Load(const std::string& contents) {
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
