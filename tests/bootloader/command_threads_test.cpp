// Verify, read and info: the run's steps in other orders, against simulated devices.
#include <gtest/gtest.h>

#include <algorithm>

#include "bootloader/command_threads.h"
#include "run_fixture.h"

namespace {

using Lines = std::vector<std::string>;

struct Chunk {
  uint32_t offset;
  Bytes bytes;
};
std::vector<Chunk> chunks;
uint32_t finishedLength;

bool Open() { return true; }
bool Collect(uint32_t offset, const uint8_t* bytes, uint32_t n) {
  chunks.push_back(Chunk{offset, Bytes(bytes, bytes + n)});
  return true;
}
bool Finish(uint32_t length) {
  finishedLength = length;
  return true;
}

class CommandThreadTest : public RunTest {
 protected:
  RunOutcome Read(uint32_t length) {
    chunks.clear();
    finishedLength = 0;
    ReadRequest request{length, Open, Collect, Finish};
    return RunWorker(ReadThread, &request, "", "COM3");
  }
};

TEST_F(CommandThreadTest, VerifyThread_compares_without_writing_and_names_the_first_difference) {
  Bytes image = PseudoRandomBytes(1000, 5);
  SimDevice& device = ProgrammedDevice(image);
  size_t commandsBefore = CommandsReceived(TraceOf(device)).size();

  RunOutcome same = RunWorker(VerifyThread, nullptr, WriteFile("same.hex", HexFileFor(image)), "COM3");
  image[700] ^= 0x40;
  RunOutcome changed =
      RunWorker(VerifyThread, nullptr, WriteFile("changed.hex", HexFileFor(image)), "COM3");

  EXPECT_EQ(same.RunLines().back(), "Verifying firmware image: done.");
  EXPECT_EQ(same.lastStatus, "Last Status: MELOR flash matches the image.");
  char expected[64];
  snprintf(expected, sizeof expected, "Verify error (%02x) %02x %02x", 700 - 512,
           image[700] ^ 0x40, image[700]);
  EXPECT_EQ(changed.RunLines().back(), expected);
  EXPECT_EQ(changed.lastStatus, "Last Status: Verify error.");
  EXPECT_TRUE(same.showSetupSent && changed.showSetupSent);
  Lines received = CommandsReceived(TraceOf(device));
  EXPECT_EQ(Lines(received.begin() + commandsBefore, received.end()),
            (Lines{"query", "read", "read", "query", "read", "read"}));
  EXPECT_TRUE(PortIsFree("COM3"));
}

TEST_F(CommandThreadTest, ReadThread_hands_every_chunk_to_the_sink_in_order_then_finishes) {
  Bytes image = PseudoRandomBytes(1100, 6);
  ProgrammedDevice(image);

  RunOutcome run = Read(1032);

  ASSERT_EQ(chunks.size(), 3u);
  Bytes read;
  for (size_t i = 0; i < chunks.size(); i++) {
    EXPECT_EQ(chunks[i].offset, 512 * i);
    read.insert(read.end(), chunks[i].bytes.begin(), chunks[i].bytes.end());
  }
  EXPECT_EQ(read, Bytes(image.begin(), image.begin() + 1032));
  EXPECT_EQ(finishedLength, 1032u);
  EXPECT_EQ(run.RunLines().back(), "Reading flash: done.");
  EXPECT_EQ(run.progress, (Lines{"", "", "Reading flash: 49%", "Reading flash: 99%",
                                 "Reading flash: 100%", ""}));
  EXPECT_EQ(run.lastStatus, "Last Status: MELOR flash read.");
  EXPECT_TRUE(PortIsFree("COM3"));
}

TEST_F(CommandThreadTest, ReadThread_refuses_a_length_beyond_the_reported_flash_size) {
  SimDevice& device = StartSim("COM3", {"--flash-size", "0x10000"});

  RunOutcome run = Read(0x10004);

  EXPECT_EQ(run.RunLines().back(), "Read length is larger than MELOR flash size");
  EXPECT_EQ(run.lastStatus, "Last Status: read length too large.");
  EXPECT_TRUE(chunks.empty());
  EXPECT_EQ(CommandsReceived(TraceOf(device)), (Lines{"query"}));
  EXPECT_TRUE(PortIsFree("COM3"));
}

TEST_F(CommandThreadTest, InfoThread_sends_only_the_query_and_gives_the_port_back) {
  SimDevice& device = StartSim("COM3", {"--version", "2.1"});

  RunOutcome run = RunWorker(InfoThread, nullptr, "", "COM3");

  EXPECT_EQ(run.RunLines(), (Lines{"Found MELOR device on COM3",
                                   "bootloader v2.1, dev id 0x0f, flash size 0x80000"}));
  EXPECT_EQ(run.lastStatus, "Last Status: MELOR found.");
  EXPECT_EQ(CommandsReceived(TraceOf(device)), (Lines{"query"}));
  EXPECT_TRUE(PortIsFree("COM3"));
}

}  // namespace
