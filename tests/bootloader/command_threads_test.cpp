// Verify, read and info: the run's steps in other orders, against simulated devices.
#include <gtest/gtest.h>

#include "bootloader/command_threads.h"
#include "run_fixture.h"

namespace {

using Lines = std::vector<std::string>;

Bytes received;  // what the sink was handed, chunk after chunk
uint32_t finishedLength;

bool Open() { return true; }
bool Collect(uint32_t offset, const uint8_t* bytes, uint32_t n) {
  EXPECT_EQ(offset, received.size()) << "a chunk out of order";
  received.insert(received.end(), bytes, bytes + n);
  return true;
}
bool Finish(uint32_t length) {
  finishedLength = length;
  return true;
}

class CommandThreadTest : public RunTest {
 protected:
  RunOutcome Read(uint32_t length, const std::string& comName = "COM3") {
    received.clear();
    finishedLength = 0;
    ReadRequest request{length, Open, Collect, Finish};
    return Run("", comName, nullptr, ReadThread, &request);
  }
};

// Both read the programmed device back without writing to it. Info, and a read of more than
// the flash, end after the query alone.
TEST_F(CommandThreadTest, verify_read_and_info_tell_the_device_and_its_flash_as_they_find_them) {
  Bytes image = PseudoRandomBytes(1000, 5);
  SimDevice& device = ProgrammedDevice(image);
  size_t commandsBefore = CommandsReceived(TraceOf(device)).size();

  RunOutcome same = Run(WriteFile("same.hex", HexFileFor(image)), "COM3", nullptr, VerifyThread);
  RunOutcome read = Read(1032);
  image[700] ^= 0x40;
  RunOutcome changed =
      Run(WriteFile("changed.hex", HexFileFor(image)), "COM3", nullptr, VerifyThread);

  EXPECT_EQ(same.RunLines().back(), "Verifying firmware image: done.");
  EXPECT_EQ(same.lastStatus, "Last Status: MELOR flash matches the image.");
  char expected[64];
  snprintf(expected, sizeof expected, "Verify error (%02x) %02x %02x", 700 - 512,
           image[700] ^ 0x40, image[700]);
  EXPECT_EQ(changed.RunLines().back(), expected);
  EXPECT_EQ(changed.lastStatus, "Last Status: Verify error.");
  EXPECT_TRUE(same.showSetupSent && changed.showSetupSent && read.showSetupSent);
  image[700] ^= 0x40;
  image.resize(1032, 0xFF);  // the erased flash past the image
  EXPECT_EQ(received, image);
  EXPECT_EQ(finishedLength, 1032u);
  EXPECT_EQ(read.RunLines().back(), "Reading flash: done.");
  EXPECT_EQ(read.progress, (Lines{"", "", "Reading flash: 49%", "Reading flash: 99%",
                                  "Reading flash: 100%", ""}));
  EXPECT_EQ(read.lastStatus, "Last Status: MELOR flash read.");
  Lines commands = CommandsReceived(TraceOf(device));
  EXPECT_EQ(Lines(commands.begin() + commandsBefore, commands.end()),
            (Lines{"query", "read", "read", "query", "read", "read", "read", "query", "read", "read"}));
  EXPECT_TRUE(PortIsFree("COM3"));

  SimDevice& small = StartSim("COM4", {"--version", "2.1", "--flash-size", "0x10000"});
  RunOutcome info = Run("", "COM4", nullptr, InfoThread);
  RunOutcome tooLong = Read(0x10004, "COM4");
  EXPECT_EQ(info.RunLines(), (Lines{"Found MELOR device on COM4",
                                    "bootloader v2.1, dev id 0x0f, flash size 0x10000"}));
  EXPECT_EQ(info.lastStatus, "Last Status: MELOR found.");
  EXPECT_EQ(tooLong.RunLines().back(), "Read length is larger than MELOR flash size");
  EXPECT_EQ(tooLong.lastStatus, "Last Status: read length too large.");
  EXPECT_TRUE(received.empty());
  EXPECT_EQ(CommandsReceived(TraceOf(small)), (Lines{"query", "query"}));
  EXPECT_TRUE(PortIsFree("COM4"));
}

}  // namespace
