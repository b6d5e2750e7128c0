// Run after run in one process, as the desktop program does: nothing grows and nothing fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "run_fixture.h"

namespace {

size_t OpenDescriptors() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

size_t ResidentKilobytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stoul(line.substr(6));
  }
  return 0;
}

// Whatever a run leaks, it leaks every time: twenty runs show it as well as a hundred.
TEST_F(RunTest, runs_back_to_back_all_succeed_and_leave_nothing_behind) {
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(64, 40)));
  StartSim("COM1");
  StartSim("COM2", {"--device-id", "0x0E"});  // probed and given back every run

  // The first runs settle what is made once (buffers, the view); growth is measured after.
  size_t descriptors = 0, memory = 0;
  for (int i = 0; i < 25; i++) {
    if (i == 5) {
      descriptors = OpenDescriptors();
      memory = ResidentKilobytes();
    }
    ASSERT_EQ(Run(hex, "probe all").lastStatus, "Last Status: MELOR successfully programmed.")
        << "run " << i;
  }
  EXPECT_EQ(OpenDescriptors(), descriptors);
#ifndef __SANITIZE_ADDRESS__  // its quarantine holds freed memory back; its leak check serves there
  EXPECT_LE(ResidentKilobytes(), memory + 256) << "resident memory grew over 20 runs";
#endif
  EXPECT_TRUE(PortIsFree("COM1"));
  EXPECT_TRUE(PortIsFree("COM2"));
}

}  // namespace
