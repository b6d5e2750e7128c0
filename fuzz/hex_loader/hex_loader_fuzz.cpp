// Feeds arbitrary file contents to LoadHexFile: whatever the file holds, the load must end with
// 0 or -1, never overrun the image or claim bytes beyond it, and leave a Last Status on failure.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "image/firmware_image.h"
#include "log/message_log.h"
#include "platform/text.h"
#include "settings/settings.h"

namespace {

std::string ScratchFile() {
  const char* folder = std::getenv("TMPDIR");
  return std::string(folder != nullptr ? folder : "/tmp") + "/pentrel-fuzz-" +
         std::to_string(getpid()) + ".hex";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = ScratchFile();
  static bool ready = [] {
    InitMessageLog();
    return Utf8ToUtf16(path.c_str(), HexFileName, kPathCapacity);
  }();
  if (!ready) std::abort();
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  MessageLog.lastStatus[0] = u'\0';
  int result = LoadHexFile();
  if (result != 0 && result != -1) std::abort();
  if (result == -1 && MessageLog.lastStatus[0] == u'\0') std::abort();
  if (result == 0 && FirmwareImage.highestEnd < kImageBase) std::abort();
  if (FirmwareImage.highestEnd > kImageBase + kImageSize) std::abort();
  return 0;
}
