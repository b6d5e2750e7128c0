// The programming run's steps: finding the device, the size check, the chunk loops that write,
// verify and read, and the final command.
#include "bootloader/run_steps.h"

#include "bootloader/commands.h"
#include "bootloader/detection.h"
#include "bootloader/program_thread.h"
#include "image/firmware_image.h"
#include "log/message_log.h"
#include "platform/text.h"
#include "serial/framing.h"
#include "serial/port.h"
#include "settings/settings.h"

namespace {

// The run's own state; one run at a time, so static storage serves.
struct Run {
  HANDLE port;
  uint32_t flashSize;
  DCB savedState;
  COMMTIMEOUTS savedTimeouts;
  uint32_t imageLength;
  uint8_t command[kMaxCommandSize];
};
Run run;

const uint8_t* reply;
int32_t replyLength;

// Sends the command and collects one reply; false when the send failed.
bool Exchange(int commandLength, uint32_t retries) {
  if (SendPacket(run.port, run.command, commandLength) != 0) return false;
  if (ReceivePacket(run.port, &reply, &replyLength, retries) != 0) {
    reply = nullptr;
    replyLength = 0;
  }
  return true;
}

// Ends a step with its one log line and Last Status text.
bool Fail(const char16_t* logLine, const char16_t* lastStatus) {
  LogMessage(u"%s", logLine);
  SetLastStatus(u"%s", lastStatus);
  return false;
}

// The share of total that will have gone once the chunk before remaining is through.
int Percent(uint32_t total, uint32_t remaining) {
  return static_cast<int>((static_cast<uint64_t>(total) - remaining) * 100 / total);
}

// Walks total bytes in chunks of up to 512, showing the progress before each chunk goes; stops
// at the first chunk that step refuses.
bool ForEachChunk(uint32_t total, const char16_t* progress,
                  bool (*step)(uint32_t offset, uint32_t n)) {
  uint32_t offset = 0;
  for (uint32_t remaining = total; remaining > 0;) {
    uint32_t n = remaining < kMaxChunkSize ? remaining : kMaxChunkSize;
    remaining -= n;
    ShowProgress(progress, Percent(total, remaining));
    if (!step(offset, n)) return false;
    offset += n;
  }
  return true;
}

bool WriteChunk(uint32_t offset, uint32_t n) {
  if (!Exchange(BuildProgramCommand(run.command, offset, n), kProgramRetries)) {
    return Fail(u"COM error sending data", u"Last Status: COM error sending data.");
  }
  if (!IsProgramReply(reply, replyLength)) {
    return Fail(u"Timeout waiting for response to program command",
                u"Last Status: Timeout error waiting for program response.");
  }
  return true;
}

// Reads n bytes of flash at offset; on success they are in the reply after its header.
bool ReadChunk(uint32_t offset, uint32_t n) {
  if (!Exchange(BuildReadCommand(run.command, offset, n), kReadRetries)) {
    return Fail(u"COM error sending read command", u"Last Status: COM error sending read command.");
  }
  if (!IsReadReply(reply, replyLength, run.command, n)) {
    return Fail(u"Timeout waiting for response to read command",
                u"Last Status: Timeout error waiting for response to read.");
  }
  return true;
}

// Compares the device's bytes with the image's; logs the first difference.
bool ChunkMatches(const uint8_t* deviceBytes, uint32_t offset, uint32_t n) {
  uint8_t expected[kMaxChunkSize];
  CopyImageChunk(expected, offset, n);
  for (uint32_t i = 0; i < n; i++) {
    if (deviceBytes[i] != expected[i]) {
      LogMessage(u"Verify error (%02x) %02x %02x", i, deviceBytes[i], expected[i]);
      SetLastStatus(u"Last Status: Verify error.");
      return false;
    }
  }
  return true;
}

bool VerifyChunk(uint32_t offset, uint32_t n) {
  return ReadChunk(offset, n) && ChunkMatches(reply + kHeaderSize, offset, n);
}

FlashSink readSink;

bool ReadChunkIntoSink(uint32_t offset, uint32_t n) {
  return ReadChunk(offset, n) && readSink(offset, reply + kHeaderSize, n);
}

// Every loop ends by logging that it is done and clearing the progress line.
bool Completed(const char16_t* done) {
  LogMessage(u"%s", done);
  ShowProgress(u"");
  return true;
}

}  // namespace

uint32_t ImageLength() {
  return ((FirmwareImage.highestEnd - kImageBase) & ~3u) + 4;
}

void StartRun() {
  run.imageLength = 0;
  DetectedDevice.found = false;
  for (int i = 0; i < kLogLines; i++) LogMessage(u" ");
  SetLastStatus(u"");
  ShowProgress(u"");
}

bool (*LoadedImageCheck)() = nullptr;

bool LoadFirmwareImage() {
  if (LoadHexFile() != 0) return false;
  run.imageLength = ImageLength();
  if (LoadedImageCheck == nullptr || LoadedImageCheck()) return true;
  // A refused image is neither written nor compared.
  run.imageLength = 0;
  return false;
}

uint32_t LoadedImageLength() { return run.imageLength; }

bool FindDevice() {
  if (TextEqual(ComName, kProbeAll)) {
    run.port = ProbeAllPorts(&run.flashSize, &run.savedState, &run.savedTimeouts);
    if (run.port == INVALID_HANDLE_VALUE) SetLastStatus(u"Last Status: MELOR not found");
  } else {
    run.port = ProbeNamedPort(&run.flashSize, &run.savedState, &run.savedTimeouts);
  }
  return run.port != INVALID_HANDLE_VALUE;
}

uint32_t FoundFlashSize() { return run.flashSize; }

bool ImageFitsFlash() {
  if (run.imageLength <= run.flashSize) return true;
  return Fail(u"Firmware image is larger than MELOR flash size", u"Last Status: file too large");
}

bool WriteImage() {
  return ForEachChunk(run.imageLength, u"Sending firmware image: %d%%", WriteChunk) &&
         Completed(u"Sending firmware image: done.");
}

bool VerifyImage() {
  return ForEachChunk(run.imageLength, u"Verifying firmware image: %d%%  ", VerifyChunk) &&
         Completed(u"Verifying firmware image: done.");
}

bool ReadFlash(uint32_t length, FlashSink sink) {
  readSink = sink;
  return ForEachChunk(length, u"Reading flash: %d%%", ReadChunkIntoSink) &&
         Completed(u"Reading flash: done.");
}

// The device's verdict; the close command that follows a success cannot change the outcome.
void Finalize() {
  LogMessage(u"Finalizing...");
  if (!Exchange(BuildFinalCommand(run.command, run.imageLength), kFinalRetries)) {
    Fail(u"COM error sending verify command", u"Last Status: COM error sending final command.");
    return;
  }
  // The verdict is the one reply whose bytes are taken on trust beyond its code; a frame that
  // failed its checksum may carry a changed verdict, so it counts as no valid reply at all.
  FinalVerdict verdict = ClassifyFinalReply(reply, replyLength);
  if (reply != nullptr && LastFrameFailedChecksum()) verdict = FinalVerdict::Invalid;
  switch (verdict) {
    case FinalVerdict::Invalid:
      // -1 stands for the byte when no reply byte came at all.
      LogMessage(u"Invalid response to verify command %d %d", replyLength,
                 replyLength >= 1 ? reply[0] : -1);
      SetLastStatus(u"Last Status: Unexpected response from MELOR");
      return;
    case FinalVerdict::NotBlank:
      Fail(u"MELOR reporting programming error: Flash not blank",
           u"MELOR reporting: Flash not blank error.");
      return;
    case FinalVerdict::FlashError:
      Fail(u"MELOR reporting programming error: Flash error",
           u"MELOR reporting: Flash programming error.");
      return;
    case FinalVerdict::Success:
      LogMessage(u"MELOR Firmware image successfully programmed.");
      SetLastStatus(u"Last Status: MELOR successfully programmed.");
      Exchange(BuildCloseCommand(run.command), kCloseRetries);
      return;
  }
}

void ReleaseDevice() { RestorePort(run.port, &run.savedState, &run.savedTimeouts); }
