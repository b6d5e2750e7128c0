// Closing the program during a run: the worker ends on the spot, with no further line, no
// setup dialog and no clean-up of its port, which the ending process gives back.
#include <gtest/gtest.h>

#include "log/message_log.h"
#include "run_fixture.h"
#include "settings/settings.h"
#include "terminal_settings.h"

// The port an aborted run leaves open is, by design, released only when the process ends.
extern "C" const char* __lsan_default_suppressions() { return "leak:CreateFileW\n"; }

namespace {

using Lines = std::vector<std::string>;

// The far end is a terminal of the test's own that never answers. Before the run it has queued
// a valid query reply (flash 0x80000, v1.2, id 0x0F), as a device might have while no program
// had the port open: taken for an answer, the run would go on to program. A second run is closed
// after verifying, before it finalizes.
TEST_F(RunTest, a_stale_reply_is_no_answer_and_closing_the_program_mid_run_ends_the_thread_there) {
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(64, 10)));
  // Raw, as an earlier run left the line. Our own descriptor of the near end keeps the line's
  // input queue alive between openers, as a serial driver's buffers do.
  PtyPair stale;
  ASSERT_EQ(symlink(stale.slavePath.c_str(), (folder_ + "/dosdevices/COM1").c_str()), 0);
  stale.Send({0x55, 0x55, 0x55, 0x55, 0x00, 0x00, 0x08, 0x00, 0x01, 0x02, 0x0F, 0x00, 0x00, 0x00,
               0x00, 0x00, 0xE6, 0x04});
  SetLastStatus(u"Last Status: an earlier run's");

  RunOutcome run = Run(hex, "COM1", [logged = 0](const std::string& line) mutable {
    // The blank line before the reset prompt, after the 14 that clear the log: detection is
    // under way, four attempts went unanswered.
    if (++logged > 14 && line.empty()) AbortRequested = 1;
  });
  StartSim("COM2");
  AbortRequested = 0;
  RunOutcome verified = Run(hex, "COM2", [](const std::string& line) {
    if (line == "Verifying firmware image: done.") AbortRequested = 1;
  });

  EXPECT_EQ(run.RunLines(), (Lines{""}));
  EXPECT_EQ(run.lastStatus, "");  // cleared when the run began
  EXPECT_EQ(verified.RunLines().back(), "Verifying firmware image: done.");
  for (const RunOutcome& ended : {run, verified}) {
    EXPECT_EQ(ended.threadExitCode, 0xFFFFFFFFu);
    EXPECT_FALSE(ended.showSetupSent);
  }
}

}  // namespace
