// LoadHexFile: reads the Intel HEX file named by HexFileName into FirmwareImage, in one pass
// over fixed buffers, reporting every failure through the message log.
#include <cstdint>
#include <cstring>

#include "image/firmware_image.h"
#include "image/hex_digits.h"
#include "image/hex_line_reader.h"
#include "log/message_log.h"
#include "platform/file_open.h"
#include "platform/text.h"
#include "settings/settings.h"

FirmwareImageStore FirmwareImage;

namespace {

bool endRecordSeen;  // the last load stopped at an end-of-file record

// Character positions of a record's fields, after the ':' at position 0.
constexpr int kCountAt = 1;
constexpr int kTypeAt = 7;
constexpr int kDataAt = 9;

constexpr uint32_t kTypeData = 0x00;
constexpr uint32_t kTypeEndOfFile = 0x01;
constexpr uint32_t kTypeUpperAddress = 0x04;

// Upper addresses whose data falls into the image: 0x1D00 through 0x1D08.
constexpr uint32_t kFirstUpper = kImageBase >> 16;
constexpr uint32_t kUpperSpan = (kImageSize >> 16) - 1;

enum class LineOutcome { Continue, EndOfFile, Refused };

// What the loader tracks while it reads one file.
struct HexLoad {
  uint32_t upper;   // upper 16 address bits from the last type 04 record
  int32_t line;     // reads so far; messages number them from 0
};

// A record's bytes after the colon: byte count, address (high, low), type, data, checksum.
struct Record {
  uint8_t bytes[kHexLineCapacity / 2];
  uint32_t count;  // data bytes
};
constexpr int kFieldBytes = 4;  // byte count, address, type

// Characters of the record itself: up to the line end, or to a NUL, which ends the text read.
int RecordLength(const char* line, int length) {
  int n = 0;
  while (n < length && line[n] != '\n' && line[n] != '\0') n++;
  return n;
}

// Decodes the record in line, which the byte count says has count data bytes. False when the
// read holds fewer characters than that calls for (cut off, or too long for one read): such a
// record cannot be checked, so nothing beyond what was read is looked at.
bool DecodeRecord(const char* line, int length, uint32_t count, Record& record) {
  uint32_t needed = kDataAt + 2 * count + 2;
  if (static_cast<uint32_t>(RecordLength(line, length)) < needed) return false;
  record.count = count;
  for (uint32_t i = 0; i < count + kFieldBytes + 1; i++) {
    record.bytes[i] = HexByteAt(line + kCountAt + 2 * i);
  }
  return true;
}

// The byte count, address, type, data and checksum bytes add up to 0 in 8 bits.
bool ChecksumHolds(const Record& record) {
  uint8_t sum = 0;
  for (uint32_t i = 0; i < record.count + kFieldBytes + 1; i++) {
    sum = static_cast<uint8_t>(sum + record.bytes[i]);
  }
  return sum == 0;
}

// Stores a data record that lies in the image's window. Bytes past the image's end are dropped,
// like every byte outside the image, so highestEnd never reaches beyond the image.
void StoreData(const Record& record, uint32_t upper) {
  if (upper - kFirstUpper > kUpperSpan) return;
  uint32_t base = upper * 0x10000 + (record.bytes[1] << 8 | record.bytes[2]);
  uint32_t offset = base - kImageBase;
  uint32_t kept = record.count < kImageSize - offset ? record.count : kImageSize - offset;
  memcpy(FirmwareImage.bytes + offset, record.bytes + kFieldBytes, kept);
  if (base + kept > FirmwareImage.highestEnd) FirmwareImage.highestEnd = base + kept;
}

// Acts on one read. A record too short for its byte count is refused like a record whose
// checksum is wrong: either way its contents cannot be trusted.
LineOutcome HandleLine(const char* line, int length, HexLoad& load) {
  Record record;
  if (line[0] != ':') return LineOutcome::Continue;
  uint32_t count = ParseHexField(line + kCountAt, 2);
  uint32_t type = ParseHexField(line + kTypeAt, 2);
  if (!DecodeRecord(line, length, count, record) || !ChecksumHolds(record)) {
    LogMessage(u"Checksum error, line %d", load.line);
    return LineOutcome::Refused;
  }
  switch (type) {
    case kTypeData:
      StoreData(record, load.upper);
      return LineOutcome::Continue;
    case kTypeEndOfFile:
      return LineOutcome::EndOfFile;
    case kTypeUpperAddress:
      // Taken from the characters as they stand, whatever the byte count says.
      load.upper = ParseHexField(line + kDataAt, 4);
      return LineOutcome::Continue;
    default:
      LogMessage(u"Unknown opcode 0x%02x, line %d in hex file.", type, load.line);
      return LineOutcome::Refused;
  }
}

// Reads records until the end-of-file record, the end of the file or the first refused record.
// Returns false when a record was refused.
bool ReadRecords(FILE* file) {
  static char line[kHexLineCapacity];
  HexLoad load = {0, 0};
  endRecordSeen = false;
  BeginHexLines(file);
  for (int length; (length = ReadHexLine(line)) > 0;) {
    LineOutcome outcome = HandleLine(line, length, load);
    if (outcome == LineOutcome::Refused) return false;
    if (outcome == LineOutcome::EndOfFile) {
      endRecordSeen = true;
      return true;
    }
    if (load.line < INT32_MAX) load.line++;
  }
  return true;
}

// The named file, or null when it cannot be opened; a name that fills its buffer without a
// terminator names no file.
FILE* OpenHexFile() {
  if (TextLengthWithin(HexFileName, kPathCapacity) == kPathCapacity) return nullptr;
  return OpenFileForReading(HexFileName);
}

int RefuseFile() {
  LogMessage(u"The input file is not a valid hex file.");
  SetLastStatus(u"Last Status: Input file is not a valid hex file.");
  return -1;
}

}  // namespace

int LoadHexFile() {
  memset(FirmwareImage.bytes, 0xFF, sizeof FirmwareImage.bytes);
  FirmwareImage.highestEnd = 0;
  FILE* file = OpenHexFile();
  if (file == nullptr) {
    char16_t shown[kPathCapacity];
    TextCopy(shown, kPathCapacity, HexFileName);
    LogMessage(u"Unable to open input file %s", shown);
    SetLastStatus(u"Last Status: Unable to open input file.");
    return -1;
  }
  bool accepted = ReadRecords(file);
  bool unreadable = HexLinesFailed();
  fclose(file);
  if (unreadable) {
    LogMessage(u"Unable to read input file %s", HexFileName);
    SetLastStatus(u"Last Status: Unable to read input file.");
    return -1;
  }
  // A file counts as an image once a data record fell inside the window, even an empty record at
  // the image's start: highestEnd is then the base address, and the run sends one erased word.
  if (!accepted || FirmwareImage.highestEnd == 0) return RefuseFile();
  return 0;
}

bool HexFileEndedWithRecord() { return endRecordSeen; }
