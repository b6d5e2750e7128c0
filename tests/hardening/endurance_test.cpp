// Run after run in one process, as the desktop program does: nothing grows and nothing fails.
#include <gtest/gtest.h>
#include <malloc.h>

#include <filesystem>
#include <iterator>

#include "run_fixture.h"

namespace {

size_t OpenDescriptors() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

// The heap in use, small blocks and mapped ones alike.
size_t HeapInUse() { return mallinfo2().uordblks + mallinfo2().hblkhd; }

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
      memory = HeapInUse();
    }
    ASSERT_EQ(Run(hex, "probe all").lastStatus, "Last Status: MELOR successfully programmed.")
        << "run " << i;
  }
  EXPECT_EQ(OpenDescriptors(), descriptors);
#ifndef __SANITIZE_ADDRESS__  // its heap is not the C library's; its leak check serves there
  EXPECT_LE(HeapInUse(), memory + 64 * 1024) << "the heap grew over 20 runs";
#endif
}

}  // namespace
