// The bootloader's command set: how every command is built, byte by byte, and which replies are
// accepted. Every command and reply is the payload of one frame. Multi-byte fields are
// little-endian; the bootloader addresses flash as 0x9D000000 + image offset.
#pragma once

#include <cstdint>

constexpr uint32_t kFlashBase = 0x9D000000;
constexpr uint32_t kMaxChunkSize = 512;
constexpr int kHeaderSize = 8;
constexpr int kMaxCommandSize = kHeaderSize + kMaxChunkSize;

// How many empty reads (about 100 ms each) each reply wait tolerates.
constexpr uint32_t kQueryRetries = 0;
constexpr uint32_t kProgramRetries = 10;
constexpr uint32_t kReadRetries = 1;
constexpr uint32_t kFinalRetries = 10;
constexpr uint32_t kCloseRetries = 0;

struct QueryReply {
  uint32_t flashSize;
  uint8_t major;
  uint8_t minor;
  uint8_t deviceId;
};

enum class FinalVerdict { Invalid, NotBlank, FlashError, Success };

// Each builder writes the command into command (at least kMaxCommandSize bytes) and returns its
// payload length.
int BuildQueryCommand(uint8_t* command);

// The program command for the chunk of n bytes at the image offset: the blank form (header only)
// when every byte is 0xFF, the full form (header and data) otherwise.
int BuildProgramCommand(uint8_t* command, uint32_t offset, uint32_t n);
int BuildReadCommand(uint8_t* command, uint32_t offset, uint32_t n);
int BuildFinalCommand(uint8_t* command, uint32_t imageLength);
int BuildCloseCommand(uint8_t* command);

// Acceptance tests. A length below the bytes a test looks at (a failed read gives 0, an empty
// frame -1) fails it; no byte beyond length is read.
bool IsQueryReply(const uint8_t* reply, int32_t length, QueryReply* parsed);
bool IsProgramReply(const uint8_t* reply, int32_t length);
bool IsReadReply(const uint8_t* reply, int32_t length, const uint8_t* readCommand, uint32_t n);
FinalVerdict ClassifyFinalReply(const uint8_t* reply, int32_t length);

// The n bytes of the image at offset, as the device should hold them: bytes past the end of the
// image buffer are the erased value 0xFF, so no read ever leaves the buffer.
void CopyImageChunk(uint8_t* destination, uint32_t offset, uint32_t n);
