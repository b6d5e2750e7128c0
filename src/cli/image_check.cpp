// The checks of a loaded image: the digest a parent passes on, and the missing end record.
#include "cli/image_check.h"

#include "bootloader/run_steps.h"
#include "cli/console_text.h"
#include "cli/sha256.h"
#include "image/firmware_image.h"
#include "log/message_log.h"
#include "platform/text.h"
#include "settings/settings.h"

namespace {

const Request* checked;

void WarnWithoutEndRecord(const Request& request) {
  if (HexFileEndedWithRecord()) return;
  PrintLine(true, "pentrel-cli: warning: " + request.file +
                      " has no end-of-file record; it may have been cut short");
}

bool ImageAccepted() {
  if (checked->imageDigest.empty()) {
    WarnWithoutEndRecord(*checked);
    return true;
  }
  if (LoadedImageDigest() == checked->imageDigest) return true;
  LogMessage(u"The HEX file changed after pentrel-cli first loaded it.");
  SetLastStatus(u"Last Status: Input file changed.");
  return false;
}

}  // namespace

std::string LoadedImageDigest() {
  uint32_t length = LoadedImageLength();
  // The rounding may reach beyond the image buffer's end.
  uint32_t stored = length < kImageSize ? length : kImageSize;
  Sha256 digest;
  digest.Add(FirmwareImage.bytes, stored);
  const uint8_t erased[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  digest.Add(erased, length - stored);
  return digest.HexDigest();
}

std::string ImageDigestForChildren(const Request& request) {
  TextCopy(HexFileName, kPathCapacity, Utf16Of(request.file).c_str());
  InitMessageLog();
  if (!LoadFirmwareImage()) return "none";
  WarnWithoutEndRecord(request);
  return LoadedImageDigest();
}

void CheckLoadedImages(const Request& request) {
  checked = &request;
  LoadedImageCheck = ImageAccepted;
}
