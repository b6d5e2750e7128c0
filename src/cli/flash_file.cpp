// Writing what read takes from flash: raw bytes or Intel HEX records at the loader's addresses.
#include "cli/flash_file.h"

#include <cstdio>

#include "image/firmware_image.h"
#include "log/message_log.h"
#include "platform/output_files.h"
#include "platform/sha256.h"
#include "platform/text.h"

namespace {

constexpr uint32_t kHexRecordBytes = 16;

struct FlashFile {
  char16_t path[kPathCapacity];
  char16_t temporary[kPathCapacity + kTemporaryNameLength];
  bool hex;
  FILE* file;
  bool temporaryExists;
  uint32_t upper;  // the upper address of the last type 04 record written
  uint32_t bytes;
  Sha256Context* digest;  // null unless the result's digest is asked for
  std::string hexDigest;
};
FlashFile out;

bool EndsWithHex(const char16_t* path) {
  size_t length = TextLength(path);
  if (length < 4) return false;
  const char16_t* end = path + length - 4;
  return end[0] == u'.' && (end[1] | 0x20) == u'h' && (end[2] | 0x20) == u'e' &&
         (end[3] | 0x20) == u'x';
}

// One record with its checksum: count, address, type, data.
void WriteRecord(uint32_t type, uint32_t address, const uint8_t* data, uint32_t count) {
  uint32_t sum = count + (address >> 8) + (address & 0xFF) + type;
  std::fprintf(out.file, ":%02X%04X%02X", count, address & 0xFFFF, type);
  for (uint32_t i = 0; i < count; i++) {
    std::fprintf(out.file, "%02X", data[i]);
    sum += data[i];
  }
  std::fprintf(out.file, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
}

bool AllErased(const uint8_t* bytes, uint32_t count) {
  for (uint32_t i = 0; i < count; i++) {
    if (bytes[i] != 0xFF) return false;
  }
  return true;
}

// Records of up to 16 bytes at kImageBase + offset; records that would hold only 0xFF are left
// out, since the erased value is what the loader assumes where a file holds nothing.
void WriteHexRecords(uint32_t offset, const uint8_t* bytes, uint32_t n) {
  for (uint32_t at = 0; at < n; at += kHexRecordBytes) {
    uint32_t count = n - at < kHexRecordBytes ? n - at : kHexRecordBytes;
    if (AllErased(bytes + at, count)) continue;
    uint32_t address = kImageBase + offset + at;
    if (address >> 16 != out.upper) {
      out.upper = address >> 16;
      uint8_t upper[2] = {static_cast<uint8_t>(out.upper >> 8), static_cast<uint8_t>(out.upper)};
      WriteRecord(0x04, 0, upper, 2);
    }
    WriteRecord(0x00, address, bytes + at, count);
  }
}

bool Fail(const char16_t* logLine, const char16_t* lastStatus) {
  LogMessage(logLine, out.path);
  SetLastStatus(u"%s", lastStatus);
  return false;
}

bool OpenTemporary() {
  out.file = CreateFileBeside(out.path, out.temporary, kPathCapacity + kTemporaryNameLength);
  if (out.file == nullptr) {
    return Fail(u"Unable to open output file %s", u"Last Status: Unable to open output file.");
  }
  out.temporaryExists = true;
  return true;
}

bool TakeChunk(uint32_t offset, const uint8_t* bytes, uint32_t n) {
  AddToSha256(out.digest, bytes, n);
  if (out.hex) {
    WriteHexRecords(offset, bytes, n);
  } else {
    std::fwrite(bytes, 1, n, out.file);
  }
  if (!std::ferror(out.file)) return true;
  return Fail(u"Unable to write output file %s", u"Last Status: Unable to write output file.");
}

bool PutInPlace(uint32_t length) {
  if (out.hex) WriteRecord(0x01, 0, nullptr, 0);
  bool written = !std::ferror(out.file);
  // On the disk before it takes the place of an older file, which it must not leave empty.
  written = CloseDurably(out.file) && written;
  out.file = nullptr;
  if (!written || !MoveFileOver(out.temporary, out.path)) {
    return Fail(u"Unable to write output file %s", u"Last Status: Unable to write output file.");
  }
  out.temporaryExists = false;
  out.bytes = length;
  out.hexDigest = FinishSha256Hex(out.digest);
  out.digest = nullptr;
  return true;
}

}  // namespace

ReadRequest FlashFileRequest(const std::u16string& path, uint32_t length, bool digest) {
  TextCopy(out.path, kPathCapacity, path.c_str());
  out.digest = digest ? StartSha256() : nullptr;
  out.hex = EndsWithHex(out.path);
  out.upper = 0xFFFFFFFF;
  return ReadRequest{length, OpenTemporary, TakeChunk, PutInPlace};
}

void DiscardFlashFile() {
  if (out.file != nullptr) std::fclose(out.file);
  out.file = nullptr;
  uint8_t unused[kSha256Bytes];
  FinishSha256(out.digest, unused);
  out.digest = nullptr;
  RemoveFlashFileNow();
}

void RemoveFlashFileNow() {
  if (out.temporaryExists) DeleteFileAt(out.temporary);
  out.temporaryExists = false;
}

uint32_t FlashFileBytes() { return out.bytes; }

std::string FlashFileDigest() { return out.hexDigest; }
