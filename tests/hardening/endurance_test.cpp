// Run after run in one process, as the desktop program does: nothing grows and nothing fails.
#include <gtest/gtest.h>
#include <dirent.h>

#include <fstream>

#include "run_fixture.h"

namespace {

size_t OpenDescriptors() {
  size_t count = 0;
  DIR* folder = opendir("/proc/self/fd");
  while (readdir(folder) != nullptr) count++;
  closedir(folder);
  return count;
}

size_t ResidentKilobytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stoul(line.substr(6));
  }
  return 0;
}

TEST_F(RunTest, a_hundred_runs_back_to_back_all_succeed_and_leave_nothing_behind) {
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(64, 40)));
  StartSim("COM1");
  StartSim("COM2", {"--device-id", "0x0E"});  // probed and given back every run

  // The first runs settle what is made once (buffers, the view); growth is measured after.
  for (int i = 0; i < 5; i++) {
    ASSERT_EQ(Run(hex, "probe all").lastStatus, "Last Status: MELOR successfully programmed.");
  }
  size_t descriptors = OpenDescriptors();
  [[maybe_unused]] size_t memory = ResidentKilobytes();
  for (int i = 0; i < 100; i++) {
    RunOutcome run = Run(hex, "probe all");
    ASSERT_EQ(run.lastStatus, "Last Status: MELOR successfully programmed.") << "run " << i;
  }
  EXPECT_EQ(OpenDescriptors(), descriptors);
#ifndef __SANITIZE_ADDRESS__  // its quarantine holds freed memory back; its leak check serves there
  EXPECT_LE(ResidentKilobytes(), memory + 512) << "resident memory grew over 100 runs";
#endif
  EXPECT_TRUE(PortIsFree("COM1"));
  EXPECT_TRUE(PortIsFree("COM2"));
}

}  // namespace
