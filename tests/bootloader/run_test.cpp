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

}  // namespace

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

// A run whose device vanishes when the given line is logged: the next command cannot be sent.
class VanishingDeviceTest : public RunTest {
 protected:
  RunOutcome RunUntilVanishedAt(const std::string& trigger, size_t imageSize = 1000) {
    std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(imageSize, 20)));
    SimDevice& device = StartSim("COM1");
    return Run(hex, "COM1", [this, &device, trigger](const std::string& line) {
      if (StartsWith(line, trigger)) KillSim(device);
    });
  }
};

TEST_F(VanishingDeviceTest, each_command_that_cannot_be_sent_ends_the_run_with_its_own_words) {
  struct Case {
    std::string trigger, line, lastStatus;
  } cases[] = {
      {"bootloader v", "COM error sending data", "Last Status: COM error sending data."},
      {"Sending firmware image: done.", "COM error sending read command",
       "Last Status: COM error sending read command."},
      {"Finalizing...", "COM error sending verify command",
       "Last Status: COM error sending final command."},
  };
  for (const Case& c : cases) {
    RunOutcome run = RunUntilVanishedAt(c.trigger);
    Lines lines = run.RunLines();
    ASSERT_GE(lines.size(), 2u) << c.trigger;
    EXPECT_TRUE(StartsWith(lines[lines.size() - 2], "SendPacket failed with error ")) << c.trigger;
    EXPECT_EQ(lines.back(), c.line);
    EXPECT_EQ(run.lastStatus, c.lastStatus);
    EXPECT_TRUE(run.showSetupSent);
  }
}

TEST_F(VanishingDeviceTest, a_close_command_that_cannot_be_sent_leaves_the_success_standing) {
  RunOutcome run = RunUntilVanishedAt("MELOR Firmware image successfully programmed.");
  Lines lines = run.RunLines();
  EXPECT_EQ(lines[lines.size() - 2], "MELOR Firmware image successfully programmed.");
  EXPECT_TRUE(StartsWith(lines.back(), "SendPacket failed with error "));
  EXPECT_EQ(run.lastStatus, "Last Status: MELOR successfully programmed.");
}

TEST_F(RunTest, a_port_whose_query_cannot_be_sent_is_dropped_while_the_others_go_on) {
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(64, 21)));
  SimDevice& first = StartSim("COM1", {"--answer-after", "1000"});
  SimDevice& second = StartSim("COM2", {"--answer-after", "5"});

  int logged = 0;
  RunOutcome run = Run(hex, "probe all", [&](const std::string& line) {
    if (++logged > 14 && line.empty()) KillSim(first);  // at the reset prompt, attempt 4
  });

  Lines lines = run.RunLines();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[0], "");
  EXPECT_TRUE(StartsWith(lines[1], "SendPacket failed with error "));
  EXPECT_EQ(lines[2], "Found MELOR device on COM2");
  EXPECT_EQ(run.lastStatus, "Last Status: MELOR successfully programmed.");
  size_t queriesToSecond = 0;
  for (const std::string& line : TraceOf(second)) {
    queriesToSecond += StartsWith(line, "rx ") && line.find("cmd=query") != std::string::npos;
  }
  EXPECT_EQ(queriesToSecond, 6u);
}

TEST_F(RunTest, replies_the_run_cannot_accept_end_it_with_the_step_s_words) {
  struct Case {
    std::vector<std::string> options;
    std::string line, lastStatus;
  } cases[] = {
      {{"--fault", "no-reply@program:2"}, "Timeout waiting for response to program command",
       "Last Status: Timeout error waiting for program response."},
      {{"--fault", "bad-echo@program:1"}, "Timeout waiting for response to program command",
       "Last Status: Timeout error waiting for program response."},
      {{"--fault", "bad-echo@read:2"}, "Timeout waiting for response to read command",
       "Last Status: Timeout error waiting for response to read."},
      {{"--fault", "bad-checksum@read:1"}, "Timeout waiting for response to read command",
       "Last Status: Timeout error waiting for response to read."},
      {{"--fault", "no-reply@final:1"}, "Invalid response to verify command 0 -1",
       "Last Status: Unexpected response from MELOR"},
      {{"--fault", "bad-echo@final:1"}, "Invalid response to verify command 2 9",
       "Last Status: Unexpected response from MELOR"},
  };
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(1500, 22)));
  int port = 1;
  for (const Case& c : cases) {
    std::string name = "COM" + std::to_string(port++);
    StartSim(name, c.options);
    RunOutcome run = Run(hex, name);
    EXPECT_EQ(run.RunLines().back(), c.line) << c.options[1];
    EXPECT_EQ(run.lastStatus, c.lastStatus) << c.options[1];
    EXPECT_TRUE(run.showSetupSent);
    EXPECT_TRUE(PortIsFree(name)) << c.options[1];
  }
}

TEST_F(RunTest, a_byte_the_device_holds_wrongly_is_named_with_its_place_and_both_values) {
  Bytes image = PseudoRandomBytes(1024, 23);
  std::string hex = WriteFile("image.hex", HexFileFor(image));
  StartSim("COM1", {"--fault", "bad-data@read:2"});

  RunOutcome run = Run(hex, "COM1");

  // The device flips the lowest bit of the last byte of the second chunk, index 0x1ff.
  char expected[64];
  snprintf(expected, sizeof expected, "Verify error (1ff) %02x %02x", image[1023] ^ 1, image[1023]);
  EXPECT_EQ(run.RunLines().back(), expected);
  EXPECT_EQ(run.lastStatus, "Last Status: Verify error.");
  EXPECT_TRUE(PortIsFree("COM1"));
}

TEST_F(RunTest, an_erased_chunk_travels_as_a_blank_command_and_is_still_read_back_whole) {
  Bytes image = PseudoRandomBytes(1536, 24);
  std::fill(image.begin() + 512, image.begin() + 1024, 0xFF);
  std::string hex = WriteFile("image.hex", HexFileFor(image));
  SimDevice& device = StartSim("COM1");

  RunOutcome run = Run(hex, "COM1");

  ASSERT_EQ(run.lastStatus, "Last Status: MELOR successfully programmed.");
  Lines received;
  for (const std::string& line : TraceOf(device)) {
    if (StartsWith(line, "rx ")) received.push_back(line.substr(0, line.find(" at=")));
  }
  Lines expected = {
      "rx n=1 cmd=query code=0x09 len=3",
      "rx n=2 cmd=program code=0x02 len=520 words=128 addr=0x9d000000",
      "rx n=3 cmd=blank code=0x22 len=8 words=128 addr=0x9d000200",
      "rx n=4 cmd=program code=0x02 len=520 words=128 addr=0x9d000400",
      // The 4 bytes past the data's end are erased too: a blank chunk of one word.
      "rx n=5 cmd=blank code=0x22 len=8 words=1 addr=0x9d000600",
      "rx n=6 cmd=read code=0x01 len=8 words=128 addr=0x9d000000",
      "rx n=7 cmd=read code=0x01 len=8 words=128 addr=0x9d000200",
      "rx n=8 cmd=read code=0x01 len=8 words=128 addr=0x9d000400",
      "rx n=9 cmd=read code=0x01 len=8 words=1 addr=0x9d000600",
      "rx n=10 cmd=final code=0x08 len=8 image=0x00000604",
      "rx n=11 cmd=close code=0x00 len=6",
  };
  EXPECT_EQ(received, expected);
}

}  // namespace
