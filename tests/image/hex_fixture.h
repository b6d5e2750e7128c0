// Test fixtures for the HEX loader: building records with their checksums, writing files in a
// scratch folder, pointing HexFileName at them, and reading back what the loader logged.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// One record with a correct checksum, e.g. Record(0x04, 0, {0x1D, 0x00}) is ":020000041D00DD".
std::string Record(uint8_t type, uint16_t address, const std::vector<uint8_t>& data);

// The same record with its checksum off by one.
std::string BadChecksum(const std::string& record);

// The type 04 record that sets the upper address.
std::string Upper(uint16_t upper);

// The end-of-file record.
std::string EndOfFile();

// Records joined with the line end, which also ends the last one.
std::string Lines(const std::vector<std::string>& records, const std::string& lineEnd = "\n");

class HexFileTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes contents to a file in the scratch folder and returns its path.
  std::filesystem::path Write(const std::string& contents, const std::string& name = "image.hex");

  // Points HexFileName at path.
  void Choose(const std::filesystem::path& path);

  // Writes contents, loads it, and returns LoadHexFile's result.
  int Load(const std::string& contents);

  // The lines logged since the test began, padding removed.
  std::vector<std::u16string> Logged() const;
  std::u16string LastStatus() const;

  // The image byte at HEX address address.
  uint8_t At(uint32_t address) const;

  std::filesystem::path scratch;
};

// The Last Status and log lines of the two usual refusals.
extern const char16_t kNotValidLine[];
extern const char16_t kNotValidStatus[];
