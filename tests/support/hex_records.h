// Intel HEX records as the tests write them, each with its checksum: shared by the loader's tests
// and the programming runs' image files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

// One record with a correct checksum, e.g. Record(0x04, 0, {0x1D, 0x00}) is ":020000041D00DD".
inline std::string Record(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()),
                                static_cast<uint8_t>(address >> 8),
                                static_cast<uint8_t>(address), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  bytes.push_back(static_cast<uint8_t>(-std::accumulate(bytes.begin(), bytes.end(), 0)));
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
