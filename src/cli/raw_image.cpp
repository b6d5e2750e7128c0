// Loading a raw binary file into the firmware image, with its own failures and Last Status texts.
#include "cli/raw_image.h"

#include <cstdio>
#include <cstring>

#include "bootloader/run_steps.h"
#include "image/firmware_image.h"
#include "log/message_log.h"
#include "platform/file_open.h"
#include "settings/settings.h"

namespace {

uint32_t placedAt = kImageBase;

int Refuse(const char16_t* lastStatus) {
  SetLastStatus(u"%s", lastStatus);
  return -1;
}

// Reads the file into the image from offset; the bytes read, or -1 having said why.
int64_t ReadInto(FILE* file, uint32_t offset) {
  size_t room = kImageSize - offset;
  size_t got = std::fread(FirmwareImage.bytes + offset, 1, room, file);
  bool tooLarge = got == room && std::fgetc(file) != EOF;
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    LogMessage(u"Unable to read input file %s", HexFileName);
    return Refuse(u"Last Status: Unable to read input file.");
  }
  if (tooLarge) {
    LogMessage(u"Input file larger than the image from 0x%x", placedAt);
    return Refuse(u"Last Status: Input file too large for the image.");
  }
  if (got == 0) {
    LogMessage(u"Input file is empty");
    return Refuse(u"Last Status: Input file is empty.");
  }
  return static_cast<int64_t>(got);
}

int LoadRawImage() {
  std::memset(FirmwareImage.bytes, 0xFF, sizeof FirmwareImage.bytes);
  FirmwareImage.highestEnd = 0;
  uint32_t offset = placedAt - kImageBase;
  if (placedAt < kImageBase || offset >= kImageSize || offset % 4 != 0) {
    LogMessage(u"Address 0x%x: not a multiple of 4 inside the image", placedAt);
    return Refuse(u"Last Status: Bad address for the binary file.");
  }
  FILE* file = OpenFileForReading(HexFileName);
  if (file == nullptr) {
    LogMessage(u"Unable to open input file %s", HexFileName);
    return Refuse(u"Last Status: Unable to open input file.");
  }
  int64_t got = ReadInto(file, offset);
  if (got < 0) return -1;
  while (got > 0 && FirmwareImage.bytes[offset + got - 1] == 0xFF) got--;
  FirmwareImage.highestEnd = placedAt + static_cast<uint32_t>(got);
  return 0;
}

}  // namespace

bool IsRawImageName(const std::string& file) {
  if (file.size() < 4) return false;
  std::string end = file.substr(file.size() - 4);
  for (char& c : end) c = static_cast<char>(c | 0x20);
  return end == ".bin";
}

void UseRawImage(uint32_t address) {
  placedAt = address;
  UseImageLoader(LoadRawImage);
}
