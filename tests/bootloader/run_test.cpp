// Every ending of a programming run, against simulated devices.
#include <gtest/gtest.h>

#include <algorithm>

#include "run_fixture.h"
#include "settings/settings.h"

namespace {

using Lines = std::vector<std::string>;

bool Contains(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

Bytes Flash(Bytes image, size_t flashSize) {
  image.resize(flashSize, 0xFF);
  return image;
}

TEST_F(RunTest, a_device_that_answers_at_once_is_programmed_and_the_log_tells_each_step) {
  Bytes image = PseudoRandomBytes(3000, 1);
  std::string hex = WriteFile("image.hex", HexFileFor(image));
  SimDevice& device = StartSim("COM4");

  RunOutcome run = Run(hex, "COM4");

  EXPECT_EQ(run.log.size(), 14u + 6u);
  EXPECT_EQ(run.RunLines(), (Lines{"Found MELOR device on COM4",
                                   "bootloader v1.2, dev id 0x0f, flash size 0x80000",
                                   "Sending firmware image: done.",
                                   "Verifying firmware image: done.", "Finalizing...",
                                   "MELOR Firmware image successfully programmed."}));
  EXPECT_EQ(run.lastStatus, "Last Status: MELOR successfully programmed.");
  EXPECT_EQ(run.progress.back(), "");
  EXPECT_TRUE(run.showSetupSent);
  EXPECT_TRUE(PortIsFree("COM4"));
  // 3000 bytes of data are sent as 3000 rounded up past the end: 3004, the last 4 erased.
  EXPECT_EQ(StopSim(device), Flash(image, 0x80000));
}

TEST_F(RunTest, a_device_that_needs_its_reset_button_is_found_after_the_prompt) {
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(100, 2)));
  StartSim("COM5", {"--answer-after", "6"});

  RunOutcome run = Run(hex, "probe all");

  Lines lines = run.RunLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "");  // the single space before the device is found
  EXPECT_EQ(lines[1], "Found MELOR device on COM5");
  EXPECT_TRUE(Contains(run.progress, "<<< Press the MELOR reset button now >>>"));
  EXPECT_EQ(run.lastStatus, "Last Status: MELOR successfully programmed.");
}

TEST_F(RunTest, progress_shows_the_share_sent_once_each_chunk_is_through) {
  // Data ending at 1296 gives an image length of 1300: chunks of 512, 512 and 276.
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(1296, 3)));
  SimDevice& device = StartSim("COM6");

  RunOutcome run = Run(hex, "COM6");

  // Cleared when the run starts and again when the device is found.
  Lines expected = {"", "", "Sending firmware image: 39%", "Sending firmware image: 78%",
                    "Sending firmware image: 100%", "", "Verifying firmware image: 39%",
                    "Verifying firmware image: 78%", "Verifying firmware image: 100%", ""};
  EXPECT_EQ(run.progress, expected);
  Lines trace = TraceOf(device);
  EXPECT_FALSE(trace.empty());
}

TEST_F(RunTest, file_errors_end_the_run_before_any_port_is_touched) {
  StartSim("COM7");
  RunOutcome missing = Run(folder_ + "/absent.hex", "COM7");
  EXPECT_EQ(missing.RunLines()[0].rfind("Unable to open input file ", 0), 0u);
  EXPECT_EQ(missing.lastStatus, "Last Status: Unable to open input file.");
  EXPECT_TRUE(missing.showSetupSent);

  RunOutcome invalid = Run(WriteFile("bad.hex", ":00000001FF\n"), "COM7");
  EXPECT_EQ(invalid.RunLines(), (Lines{"The input file is not a valid hex file."}));
  EXPECT_EQ(invalid.lastStatus, "Last Status: Input file is not a valid hex file.");
  EXPECT_TRUE(PortIsFree("COM7"));
}

TEST_F(RunTest, a_named_port_that_is_absent_or_no_ports_at_all_end_in_not_found) {
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(64, 4)));
  RunOutcome absent = Run(hex, "COM9");
  EXPECT_EQ(absent.RunLines(), (Lines{"Unable to open COM9 (2)", "Unable to open COM port COM9",
                                      "MELOR not detected"}));
  EXPECT_EQ(absent.lastStatus, "Last Status: Unable to open COM port.");

  RunOutcome none = Run(hex, "probe all");
  EXPECT_EQ(none.RunLines(), (Lines{"No available COM ports detected"}));
  EXPECT_EQ(none.lastStatus, "Last Status: MELOR not found");
  EXPECT_FALSE(Contains(none.progress, "<<< Press the MELOR reset button now >>>"));
}

TEST_F(RunTest, a_silent_device_is_given_up_after_300_attempts) {
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(64, 5)));
  SimDevice& device = StartSim("COM3", {"--answer-after", "1000"});

  RunOutcome run = Run(hex, "COM3");

  EXPECT_EQ(run.RunLines(), (Lines{"", "MELOR not detected"}));
  EXPECT_EQ(run.lastStatus, "Last Status: MELOR not found");
  EXPECT_EQ(run.progress.back(), "");
  EXPECT_TRUE(PortIsFree("COM3"));
  size_t queries = 0;
  for (const std::string& line : TraceOf(device)) {
    queries += line.rfind("rx ", 0) == 0 && line.find("cmd=query") != std::string::npos;
  }
  EXPECT_EQ(queries, 300u);
}

TEST_F(RunTest, the_image_may_fill_the_flash_but_not_exceed_it) {
  // Flash of 64 KiB: data ending 4 bytes short of it gives an image length of exactly 64 KiB.
  std::string fits = WriteFile("fits.hex", HexFileFor(PseudoRandomBytes(0x10000 - 4, 6)));
  std::string over = WriteFile("over.hex", HexFileFor(PseudoRandomBytes(0x10000, 7)));
  StartSim("COM2", {"--flash-size", "0x10000"});

  RunOutcome tooLarge = Run(over, "COM2");
  EXPECT_EQ(tooLarge.RunLines().back(), "Firmware image is larger than MELOR flash size");
  EXPECT_EQ(tooLarge.lastStatus, "Last Status: file too large");
  EXPECT_TRUE(PortIsFree("COM2"));

  RunOutcome exact = Run(fits, "COM2");
  EXPECT_EQ(exact.lastStatus, "Last Status: MELOR successfully programmed.");
}

TEST_F(RunTest, the_second_of_two_ports_is_the_device_when_the_first_reports_another_id) {
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(64, 8)));
  StartSim("COM1", {"--device-id", "0x0E"});
  StartSim("COM2");

  RunOutcome run = Run(hex, "probe all");

  EXPECT_EQ(run.RunLines()[0], "Found MELOR device on COM2");
  EXPECT_EQ(run.lastStatus, "Last Status: MELOR successfully programmed.");
  EXPECT_TRUE(PortIsFree("COM1"));
  EXPECT_TRUE(PortIsFree("COM2"));
}

TEST_F(RunTest, a_device_verdict_of_not_blank_or_flash_error_is_reported_as_the_device_words_it) {
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(64, 9)));
  StartSim("COM1", {"--final", "E"});
  StartSim("COM2", {"--final", "G"});

  RunOutcome notBlank = Run(hex, "COM1");
  EXPECT_EQ(notBlank.RunLines().back(), "MELOR reporting programming error: Flash not blank");
  EXPECT_EQ(notBlank.lastStatus, "MELOR reporting: Flash not blank error.");
  RunOutcome flashError = Run(hex, "COM2");
  EXPECT_EQ(flashError.RunLines().back(), "MELOR reporting programming error: Flash error");
  EXPECT_EQ(flashError.lastStatus, "MELOR reporting: Flash programming error.");
  EXPECT_TRUE(PortIsFree("COM1"));
  EXPECT_TRUE(PortIsFree("COM2"));
}

TEST_F(RunTest, closing_the_program_during_detection_ends_the_thread_without_another_line) {
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(64, 10)));
  StartSim("COM1", {"--answer-after", "1000"});

  RunOutcome run = Run(hex, "COM1", [logged = 0](const std::string& line) mutable {
    // The blank line before the reset prompt, after the 14 that clear the log: detection is
    // under way.
    if (++logged > 14 && line.empty()) AbortRequested = 1;
  });

  EXPECT_EQ(run.threadExitCode, 0xFFFFFFFFu);
  EXPECT_FALSE(run.showSetupSent);
  Lines lines = run.RunLines();
  EXPECT_EQ(lines, (Lines{""}));
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
