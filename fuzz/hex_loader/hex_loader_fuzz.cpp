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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* folder = std::getenv("TMPDIR");
  static const std::string path = std::string(folder != nullptr ? folder : "/tmp") +
                                  "/pentrel-fuzz-" + std::to_string(getpid()) + ".hex";
  static bool ready = (InitMessageLog(), Utf8ToUtf16(path.c_str(), HexFileName, kPathCapacity));
  FILE* file = ready ? std::fopen(path.c_str(), "wb") : nullptr;
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
