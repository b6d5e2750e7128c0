// The command set byte for byte, and which replies are taken.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "bootloader/commands.h"
#include "bootloader/program_thread.h"
#include "image/firmware_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Built(int length, const uint8_t* command) { return Bytes(command, command + length); }

TEST(Commands, carry_code_word_count_and_flash_address_and_a_blank_chunk_travels_without_data) {
  uint8_t command[kMaxCommandSize];
  // Each command is built over 0xAA bytes, so that a byte it leaves unwritten shows.
  auto fresh = [&] { return static_cast<uint8_t*>(memset(command, 0xAA, sizeof command)); };
  EXPECT_EQ(Built(BuildQueryCommand(fresh()), command), (Bytes{0x09, 0x00, 0x00}));
  EXPECT_EQ(Built(BuildReadCommand(fresh(), 0x400, 276), command),
            (Bytes{0x01, 0x00, 69, 0x00, 0x00, 0x04, 0x00, 0x9D}));
  EXPECT_EQ(Built(BuildFinalCommand(fresh(), 0x104), command),
            (Bytes{0x08, 0x00, 0x01, 0x01, 0x04, 0x01, 0x00, 0x00}));
  EXPECT_EQ(Built(BuildCloseCommand(fresh()), command), Bytes(6, 0x00));

  memset(FirmwareImage.bytes, 0xFF, kImageSize);
  EXPECT_EQ(Built(BuildProgramCommand(fresh(), 0x1000, 512), command),
            (Bytes{0x22, 0x00, 0x80, 0x00, 0x00, 0x10, 0x00, 0x9D}));
  FirmwareImage.bytes[0x1000 + 511] = 0xFE;  // one byte not erased makes it a full chunk
  Bytes full = Built(BuildProgramCommand(fresh(), 0x1000, 512), command);
  ASSERT_EQ(full.size(), 520u);
  EXPECT_EQ(Bytes(full.begin(), full.begin() + 9),
            (Bytes{0x02, 0x00, 0x80, 0x00, 0x00, 0x10, 0x00, 0x9D, 0xFF}));
  EXPECT_EQ(full[519], 0xFE);
}

TEST(CopyImageChunk, gives_erased_bytes_past_the_image_instead_of_reading_beyond_it) {
  memset(FirmwareImage.bytes, 0xFF, kImageSize);
  for (uint32_t i = 0; i < 4; i++) FirmwareImage.bytes[kImageSize - 4 + i] = static_cast<uint8_t>(i);
  FirmwareImage.highestEnd = 0x12345678;  // the field right after the bytes
  const struct {
    uint32_t offset;
    Bytes bytes;
  } cases[] = {{kImageSize - 4, {0, 1, 2, 3, 0xFF, 0xFF}},
               {kImageSize - 1, {3, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
               {kImageSize, Bytes(6, 0xFF)}};
  for (const auto& c : cases) {
    uint8_t chunk[6] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    CopyImageChunk(chunk, c.offset, 6);
    EXPECT_EQ(Bytes(chunk, chunk + 6), c.bytes) << c.offset;
  }
}

TEST(Replies, are_taken_only_as_the_device_gives_them) {
  QueryReply parsed{};
  auto query = [&](const Bytes& reply, int32_t length) {
    return IsQueryReply(reply.data(), length, &parsed);
  };
  Bytes good = {0x00, 0x00, 0x08, 0x00, 0x01, 0x02, 0x0F, 0, 0, 0, 0, 0};
  ASSERT_TRUE(query(good, 12));
  EXPECT_EQ(parsed.flashSize, 0x80000u);
  ASSERT_TRUE(query({0x00, 0x00, 0x00, 0x01, 0x01, 0x02, 0x0F, 0, 0, 0, 0, 0}, 12));
  EXPECT_EQ(parsed.flashSize, 0x1000000u);
  EXPECT_EQ(parsed.major * 10 + parsed.minor, 12);
  // A flash size that is not a whole number of 64 KiB pages is no reply of this device.
  for (int at : {0, 1}) {
    Bytes oddSize = good;
    oddSize[at] = 0x10;
    EXPECT_FALSE(query(oddSize, 12)) << at;
  }
  good.push_back(0);
  for (int32_t length : {11, 13, -1}) EXPECT_FALSE(query(good, length)) << length;

  auto program = [](const Bytes& reply, int32_t n) { return IsProgramReply(reply.data(), n); };
  EXPECT_TRUE(program({0x22}, 1));
  EXPECT_TRUE(program({0x02, 0x00, 0x00}, 3));
  EXPECT_FALSE(program({0x01}, 1) || program({0x02}, 0) || program({0x02}, -1));

  uint8_t read[kMaxCommandSize];
  BuildReadCommand(read, 0x200, 8);
  Bytes echo(read, read + 8);
  echo.resize(16, 0xAA);
  EXPECT_TRUE(IsReadReply(echo.data(), 16, read, 8));
  for (int32_t length : {15, 17}) EXPECT_FALSE(IsReadReply(echo.data(), length, read, 8)) << length;

  auto verdict = [](Bytes reply, int32_t length) { return ClassifyFinalReply(reply.data(), length); };
  EXPECT_EQ(verdict({0x08, 0x00}, 2), FinalVerdict::Success);
  EXPECT_EQ(verdict({0x08, 0x53}, 2), FinalVerdict::Success);
  EXPECT_EQ(verdict({0x08, 0x45}, 2), FinalVerdict::NotBlank);
  EXPECT_EQ(verdict({0x08, 0x47}, 2), FinalVerdict::FlashError);
  EXPECT_EQ(verdict({0x08}, 1), FinalVerdict::Invalid);
  EXPECT_EQ(verdict({0x08, 0x00}, -1), FinalVerdict::Invalid);
}

TEST(ImageLength, rounds_past_the_data_to_a_multiple_of_four) {
  FirmwareImage.highestEnd = 0x1D0000FE;
  EXPECT_EQ(ImageLength(), 0x100u);
  FirmwareImage.highestEnd = 0x1D000000;
  EXPECT_EQ(ImageLength(), 4u);
}

}  // namespace
