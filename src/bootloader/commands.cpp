// Building the bootloader's commands and testing its replies.
#include "bootloader/commands.h"

#include <cstring>

#include "image/firmware_image.h"

namespace {

constexpr uint8_t kQueryCode = 0x09;
constexpr uint8_t kProgramCode = 0x02;
constexpr uint8_t kBlankProgramCode = 0x22;
constexpr uint8_t kReadCode = 0x01;
constexpr uint8_t kFinalCode = 0x08;
constexpr int kQueryReplySize = 12;
constexpr int kCloseCommandSize = 6;

void PutLittleEndian32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; i++) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetLittleEndian32(const uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

// The header shared by program, blank program and read: code, 0, word count, flash address.
int PutHeader(uint8_t* command, uint8_t code, uint32_t offset, uint32_t n) {
  uint16_t words = static_cast<uint16_t>(n / 4);
  command[0] = code;
  command[1] = 0x00;
  command[2] = static_cast<uint8_t>(words);
  command[3] = static_cast<uint8_t>(words >> 8);
  PutLittleEndian32(command + 4, kFlashBase + offset);
  return kHeaderSize;
}

bool AllErased(const uint8_t* bytes, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) {
    if (bytes[i] != 0xFF) return false;
  }
  return true;
}

}  // namespace

void CopyImageChunk(uint8_t* destination, uint32_t offset, uint32_t n) {
  uint32_t inside = offset >= kImageSize ? 0 : (n < kImageSize - offset ? n : kImageSize - offset);
  if (inside > 0) memcpy(destination, FirmwareImage.bytes + offset, inside);
  memset(destination + inside, 0xFF, n - inside);
}

int BuildQueryCommand(uint8_t* command) {
  command[0] = kQueryCode;
  command[1] = 0x00;
  command[2] = 0x00;
  return 3;
}

int BuildProgramCommand(uint8_t* command, uint32_t offset, uint32_t n) {
  uint8_t* data = command + kHeaderSize;
  CopyImageChunk(data, offset, n);
  if (AllErased(data, n)) return PutHeader(command, kBlankProgramCode, offset, n);
  return PutHeader(command, kProgramCode, offset, n) + static_cast<int>(n);
}

int BuildReadCommand(uint8_t* command, uint32_t offset, uint32_t n) {
  return PutHeader(command, kReadCode, offset, n);
}

int BuildFinalCommand(uint8_t* command, uint32_t imageLength) {
  command[0] = kFinalCode;
  command[1] = 0x00;
  command[2] = 0x01;
  command[3] = 0x01;
  PutLittleEndian32(command + 4, imageLength);
  return kHeaderSize;
}

int BuildCloseCommand(uint8_t* command) {
  memset(command, 0x00, kCloseCommandSize);
  return kCloseCommandSize;
}

bool IsQueryReply(const uint8_t* reply, int32_t length, QueryReply* parsed) {
  if (length != kQueryReplySize || reply[0] != 0x00 || reply[1] != 0x00 || reply[6] != 0x0F) {
    return false;
  }
  parsed->flashSize = GetLittleEndian32(reply);
  parsed->major = reply[4];
  parsed->minor = reply[5];
  parsed->deviceId = reply[6];
  return true;
}

bool IsProgramReply(const uint8_t* reply, int32_t length) {
  return length >= 1 && (reply[0] == kProgramCode || reply[0] == kBlankProgramCode);
}

bool IsReadReply(const uint8_t* reply, int32_t length, const uint8_t* readCommand, uint32_t n) {
  return length == static_cast<int32_t>(kHeaderSize + n) &&
         memcmp(reply, readCommand, kHeaderSize) == 0;
}

FinalVerdict ClassifyFinalReply(const uint8_t* reply, int32_t length) {
  if (length < 2 || reply[0] != kFinalCode) return FinalVerdict::Invalid;
  if (reply[1] == 0x45) return FinalVerdict::NotBlank;
  if (reply[1] == 0x47) return FinalVerdict::FlashError;
  return FinalVerdict::Success;
}
