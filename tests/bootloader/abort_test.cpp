// Closing the program during a run: the worker ends on the spot, with no further line, no
// setup dialog and no clean-up of its port, which the ending process gives back.
#include <gtest/gtest.h>

#include "log/message_log.h"
#include "run_fixture.h"
#include "settings/settings.h"

// The port an aborted run leaves open is, by design, released only when the process ends.
extern "C" const char* __lsan_default_suppressions() { return "leak:CreateFileW\n"; }

namespace {

using Lines = std::vector<std::string>;

TEST_F(RunTest, closing_the_program_during_detection_ends_the_thread_without_another_line) {
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(64, 10)));
  StartSim("COM1", {"--answer-after", "1000"});
  SetLastStatus(u"Last Status: an earlier run's");

  RunOutcome run = Run(hex, "COM1", [logged = 0](const std::string& line) mutable {
    // The blank line before the reset prompt, after the 14 that clear the log: detection is
    // under way.
    if (++logged > 14 && line.empty()) AbortRequested = 1;
  });

  EXPECT_EQ(run.threadExitCode, 0xFFFFFFFFu);
  EXPECT_FALSE(run.showSetupSent);
  Lines lines = run.RunLines();
  EXPECT_EQ(lines, (Lines{""}));
  EXPECT_EQ(run.lastStatus, "");  // cleared when the run began
}

TEST_F(RunTest, closing_the_program_before_finalizing_ends_the_thread_without_finalizing) {
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(600, 11)));
  StartSim("COM1");

  RunOutcome run = Run(hex, "COM1", [](const std::string& line) {
    if (line == "Verifying firmware image: done.") AbortRequested = 1;
  });

  EXPECT_EQ(run.threadExitCode, 0xFFFFFFFFu);
  EXPECT_FALSE(run.showSetupSent);
  EXPECT_EQ(run.RunLines().back(), "Verifying firmware image: done.");
}

}  // namespace
