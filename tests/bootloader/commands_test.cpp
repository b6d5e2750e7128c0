// The command set byte for byte, and which replies are taken.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "bootloader/commands.h"
#include "bootloader/program_thread.h"
#include "image/firmware_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Built(int (*build)(uint8_t*, uint32_t, uint32_t), uint32_t offset, uint32_t n) {
  uint8_t command[kMaxCommandSize];
  int length = build(command, offset, n);
  return Bytes(command, command + length);
}

void EraseImage() { memset(FirmwareImage.bytes, 0xFF, kImageSize); }

TEST(QueryReply, accepts_only_twelve_bytes_with_zero_low_size_bytes_and_device_id_0x0f) {
  uint8_t query[kMaxCommandSize];
  ASSERT_EQ(BuildQueryCommand(query), 3);
  EXPECT_EQ(Bytes(query, query + 3), (Bytes{0x09, 0x00, 0x00}));

  Bytes good = {0x00, 0x00, 0x08, 0x00, 0x01, 0x02, 0x0F, 0, 0, 0, 0, 0};
  QueryReply parsed{};
  ASSERT_TRUE(IsQueryReply(good.data(), 12, &parsed));
  EXPECT_EQ(parsed.flashSize, 0x80000u);
  EXPECT_EQ(parsed.major, 1);
  EXPECT_EQ(parsed.minor, 2);
  EXPECT_EQ(parsed.deviceId, 0x0F);

  Bytes oddSize = good;
  oddSize[1] = 0x10;
  Bytes otherDevice = good;
  otherDevice[6] = 0x0E;
  Bytes longer = good;
  longer.push_back(0);
  EXPECT_FALSE(IsQueryReply(oddSize.data(), 12, &parsed));
  EXPECT_FALSE(IsQueryReply(otherDevice.data(), 12, &parsed));
  EXPECT_FALSE(IsQueryReply(good.data(), 11, &parsed));
  EXPECT_FALSE(IsQueryReply(longer.data(), 13, &parsed));
  EXPECT_FALSE(IsQueryReply(good.data(), -1, &parsed));
}

TEST(BuildProgramCommand, sends_an_erased_chunk_as_the_eight_byte_blank_command) {
  EraseImage();
  EXPECT_EQ(Built(BuildProgramCommand, 0x1000, 512),
            (Bytes{0x22, 0x00, 0x80, 0x00, 0x00, 0x10, 0x00, 0x9D}));

  FirmwareImage.bytes[0x1000 + 511] = 0xFE;
  Bytes full = Built(BuildProgramCommand, 0x1000, 512);
  ASSERT_EQ(full.size(), 520u);
  EXPECT_EQ(Bytes(full.begin(), full.begin() + 8),
            (Bytes{0x02, 0x00, 0x80, 0x00, 0x00, 0x10, 0x00, 0x9D}));
  EXPECT_EQ(full[8], 0xFF);
  EXPECT_EQ(full[519], 0xFE);

  FirmwareImage.bytes[0] = 0x12;
  EXPECT_EQ(Built(BuildProgramCommand, 0, 4),
            (Bytes{0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x9D, 0x12, 0xFF, 0xFF, 0xFF}));
}

TEST(BuildReadCommand, carries_word_count_and_flash_address) {
  EXPECT_EQ(Built(BuildReadCommand, 0x400, 276),
            (Bytes{0x01, 0x00, 69, 0x00, 0x00, 0x04, 0x00, 0x9D}));
}

TEST(CopyImageChunk, gives_erased_bytes_past_the_image_instead_of_reading_beyond_it) {
  EraseImage();
  for (uint32_t i = 0; i < 4; i++) FirmwareImage.bytes[kImageSize - 4 + i] = static_cast<uint8_t>(i);
  FirmwareImage.highestEnd = 0x12345678;  // the field right after the bytes
  uint8_t chunk[8];
  CopyImageChunk(chunk, kImageSize - 4, 8);
  EXPECT_EQ(Bytes(chunk, chunk + 8), (Bytes{0, 1, 2, 3, 0xFF, 0xFF, 0xFF, 0xFF}));
  CopyImageChunk(chunk, kImageSize, 4);
  EXPECT_EQ(Bytes(chunk, chunk + 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(ReplyTests, program_and_read_replies_are_taken_only_as_the_device_gives_them) {
  Bytes blankAck = {0x22}, programAck = {0x02}, wrong = {0x01};
  EXPECT_TRUE(IsProgramReply(blankAck.data(), 1));
  EXPECT_TRUE(IsProgramReply(programAck.data(), 3));
  EXPECT_FALSE(IsProgramReply(wrong.data(), 1));
  EXPECT_FALSE(IsProgramReply(programAck.data(), 0));
  EXPECT_FALSE(IsProgramReply(programAck.data(), -1));

  uint8_t read[kMaxCommandSize];
  BuildReadCommand(read, 0x200, 8);
  Bytes echo(read, read + 8);
  echo.resize(16, 0xAA);
  EXPECT_TRUE(IsReadReply(echo.data(), 16, read, 8));
  EXPECT_FALSE(IsReadReply(echo.data(), 15, read, 8));
  EXPECT_FALSE(IsReadReply(echo.data(), 17, read, 8));
  echo[5] = 0x03;  // address 0x9D000300 instead of 0x9D000200
  EXPECT_FALSE(IsReadReply(echo.data(), 16, read, 8));
}

TEST(FinalCommand, carries_the_image_length_and_its_reply_gives_the_verdict) {
  uint8_t command[kMaxCommandSize];
  ASSERT_EQ(BuildFinalCommand(command, 0x104), 8);
  EXPECT_EQ(Bytes(command, command + 8), (Bytes{0x08, 0x00, 0x01, 0x01, 0x04, 0x01, 0x00, 0x00}));

  auto verdict = [](Bytes reply) {
    return ClassifyFinalReply(reply.data(), static_cast<int32_t>(reply.size()));
  };
  EXPECT_EQ(verdict({0x08, 0x00}), FinalVerdict::Success);
  EXPECT_EQ(verdict({0x08, 0x53}), FinalVerdict::Success);
  EXPECT_EQ(verdict({0x08, 0x45}), FinalVerdict::NotBlank);
  EXPECT_EQ(verdict({0x08, 0x47}), FinalVerdict::FlashError);
  EXPECT_EQ(verdict({0x08}), FinalVerdict::Invalid);
  EXPECT_EQ(verdict({0x09, 0x00}), FinalVerdict::Invalid);
  Bytes any = {0x08, 0x00};
  EXPECT_EQ(ClassifyFinalReply(any.data(), -1), FinalVerdict::Invalid);

  ASSERT_EQ(BuildCloseCommand(command), 6);
  EXPECT_EQ(Bytes(command, command + 6), Bytes(6, 0x00));
}

TEST(ImageLength, rounds_past_the_data_to_a_multiple_of_four) {
  FirmwareImage.highestEnd = 0x1D000100;
  EXPECT_EQ(ImageLength(), 0x104u);
  FirmwareImage.highestEnd = 0x1D0000FE;
  EXPECT_EQ(ImageLength(), 0x100u);
  FirmwareImage.highestEnd = 0x1D000000;
  EXPECT_EQ(ImageLength(), 4u);
}

}  // namespace
