// Every ending of a programming run, against simulated devices.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "run_fixture.h"
#include "scripted_reads.h"
#include "terminal_settings.h"

namespace {

using Lines = std::vector<std::string>;
const std::string kSuccess = "Last Status: MELOR successfully programmed.";
const std::string kPrompt = "<<< Press the MELOR reset button now >>>";

// The device answers only after four silent attempts, so the reset prompt comes first (a
// device silent through three is found with none: see the probing test).
TEST_F(RunTest, a_device_found_after_the_reset_prompt_is_programmed_and_the_log_tells_each_step) {
  // Chunks of 512: data, erased, data, and the 4 erased bytes past the data's end.
  Bytes image = PseudoRandomBytes(1536, 24);
  std::fill(image.begin() + 512, image.begin() + 1024, 0xFF);
  std::string hex = WriteFile("image.hex", HexFileFor(image));
  SimDevice& device = StartSim("COM4", {"--answer-after", "4"});

  RunOutcome run = Run(hex, "COM4");

  EXPECT_EQ(run.RunLines(), (Lines{"", "Found MELOR device on COM4",
                                   "bootloader v1.2, dev id 0x0f, flash size 0x80000",
                                   "Sending firmware image: done.",
                                   "Verifying firmware image: done.", "Finalizing...",
                                   "MELOR Firmware image successfully programmed."}));
  EXPECT_EQ(run.lastStatus, kSuccess);
  // Cleared when the run starts, when the device is found and at the end; a share per chunk.
  EXPECT_EQ(run.progress, (Lines{"", kPrompt, "", "Sending firmware image: 33%", "Sending firmware image: 66%",
                                 "Sending firmware image: 99%", "Sending firmware image: 100%", "",
                                 "Verifying firmware image: 33%", "Verifying firmware image: 66%",
                                 "Verifying firmware image: 99%", "Verifying firmware image: 100%", ""}));
  EXPECT_TRUE(run.showSetupSent);
  EXPECT_TRUE(PortIsFree("COM4"));
  EXPECT_EQ(TraceOf(device), (Lines{
      "rx n=1 cmd=query code=0x09 len=3", "rx n=2 cmd=query code=0x09 len=3",
      "rx n=3 cmd=query code=0x09 len=3", "rx n=4 cmd=query code=0x09 len=3",
      "rx n=5 cmd=query code=0x09 len=3",
      "rx n=6 cmd=program code=0x02 len=520 words=128 addr=0x9d000000",
      "rx n=7 cmd=blank code=0x22 len=8 words=128 addr=0x9d000200",
      "rx n=8 cmd=program code=0x02 len=520 words=128 addr=0x9d000400",
      "rx n=9 cmd=blank code=0x22 len=8 words=1 addr=0x9d000600",
      "rx n=10 cmd=read code=0x01 len=8 words=128 addr=0x9d000000",
      "rx n=11 cmd=read code=0x01 len=8 words=128 addr=0x9d000200",
      "rx n=12 cmd=read code=0x01 len=8 words=128 addr=0x9d000400",
      "rx n=13 cmd=read code=0x01 len=8 words=1 addr=0x9d000600",
      "rx n=14 cmd=final code=0x08 len=8 image=0x00000604",
      "rx n=15 cmd=close code=0x00 len=6",
  }));
  image.resize(0x80000, 0xFF);
  EXPECT_EQ(StopSim(device), image);
}

// Both ports are in normal mode, and the device's has timeouts of another program's: the spare
// port and the device's go back exactly as they were found. The device is silent through three
// attempts, one short of the reset prompt.
TEST_F(RunTest, probing_skips_another_device_id_and_finds_one_that_answers_late) {
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(100, 2)));
  const termios normal = NormalMode();
  std::vector<termios> before;
  for (SimDevice* device : {&StartSim("COM1", {"--device-id", "0x0E"}),
                            &StartSim("COM5", {"--answer-after", "3"})}) {
    before.push_back(TerminalSettingsAt(device->ptyPath, &normal));
  }
  COMMTIMEOUTS timeouts = {5, 6, 7, 8, 9};
  PortState(u"COM5", &timeouts);

  RunOutcome run = Run(hex, "probe all");

  EXPECT_EQ(run.RunLines().at(0), "Found MELOR device on COM5");
  EXPECT_EQ(run.progress, (Lines{"", "", "Sending firmware image: 100%", "",
                                 "Verifying firmware image: 100%", ""}));
  EXPECT_EQ(run.lastStatus, kSuccess);
  for (size_t i = 0; i < before.size(); i++) {
    EXPECT_TRUE(PortIsFree(devices_[i].comName));
    EXPECT_EQ(TermiosFields(before[i]), TermiosFields(TerminalSettingsAt(devices_[i].ptyPath)))
        << devices_[i].comName;
  }
  EXPECT_TRUE(SameBytes(PortState(u"COM5").second, timeouts));
}

TEST_F(RunTest, bad_files_missing_ports_and_a_too_large_image_end_the_run_before_any_chunk) {
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(64, 4)));
  RunOutcome none = Run(hex, "probe all");
  EXPECT_EQ(none.RunLines(), (Lines{"No available COM ports detected"}));
  EXPECT_EQ(none.lastStatus, "Last Status: MELOR not found");
  EXPECT_EQ(none.progress, (Lines{"", ""}));  // no reset prompt without a port

  // Flash of 64 KiB: data ending 4 bytes short of it gives an image length of exactly 64 KiB.
  SimDevice& device = StartSim("COM2", {"--flash-size", "0x10000"});
  const std::string kNoPort = "Last Status: Unable to open COM port.";
  const struct {
    std::string hex, port;
    Lines lines;
    std::string lastStatus;
  } cases[] = {
      {folder_ + "/absent.hex", "COM2", {"Unable to open input file " + folder_ + "/absent.hex"},
       "Last Status: Unable to open input file."},
      {WriteFile("bad.hex", ":00000001FF\n"), "COM2", {"The input file is not a valid hex file."},
       "Last Status: Input file is not a valid hex file."},
      {hex, "COM9", {"Unable to open COM9 (2)", "Unable to open COM port COM9", "MELOR not detected"},
       kNoPort},
      // Only "probe all" itself probes: in other letters it is a port's name.
      {hex, "Probe All",
       {"Unable to open Probe All (2)", "Unable to open COM port Probe All", "MELOR not detected"},
       kNoPort},
      {WriteFile("over.hex", HexFileFor(PseudoRandomBytes(0x10000, 7))), "COM2",
       {"Found MELOR device on COM2", "bootloader v1.2, dev id 0x0f, flash size 0x10000",
        "Firmware image is larger than MELOR flash size"},
       "Last Status: file too large"},
  };
  for (const auto& c : cases) {
    RunOutcome run = Run(c.hex, c.port);
    EXPECT_EQ(run.RunLines(), c.lines) << c.port;
    EXPECT_EQ(run.lastStatus, c.lastStatus);
    EXPECT_TRUE(run.showSetupSent);
    EXPECT_TRUE(PortIsFree("COM2"));
  }
  // The image that fits goes on to its first chunk, which the vanished device never gets.
  std::string fits = WriteFile("fits.hex", HexFileFor(PseudoRandomBytes(0x10000 - 4, 6)));
  RunOutcome fitting = Run(fits, "COM2", [&](const std::string& line) {
    if (line.rfind("bootloader v", 0) == 0) KillSim(device);
  });
  EXPECT_EQ(fitting.lastStatus, "Last Status: COM error sending data.");
}

// Each reply is awaited for exactly its number of empty reads, one read period each (query 0,
// program 10, read 1, final 10, close 0): a reply held back that many is taken, one more is not.
TEST_F(RunTest, each_reply_is_awaited_for_exactly_its_number_of_read_periods) {
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(1000, 8)));
  const std::string kFinalInvalid = "Last Status: Unexpected response from MELOR";
  const std::string kNotFound = "Last Status: MELOR not found";
  struct Case {
    uint8_t code;
    int empties;
    std::string lastStatus, lastProgress;  // the progress shows the chunk that failed
    std::string port = "COM3";
  } cases[] = {
      {0x02, 10, kSuccess, ""},
      {0x02, 11, "Last Status: Timeout error waiting for program response.",
       "Sending firmware image: 50%"},
      {0x01, 1, kSuccess, ""},
      {0x01, 2, "Last Status: Timeout error waiting for response to read.",
       "Verifying firmware image: 50%"},
      {0x08, 10, kSuccess, ""},
      {0x08, 11, kFinalInvalid, ""},
      {0x09, 1, kNotFound, ""},
      {0x09, 1, kNotFound, "", "probe all"},  // probing every port gives up the same way
  };
  StartSim("COM3");
  for (const Case& c : cases) {
    ScriptReads({}, false);
    HoldReplies(c.code, c.empties);
    RunOutcome run = Run(hex, c.port);
    std::string what = std::to_string(c.code) + " held " + std::to_string(c.empties) + c.port;
    EXPECT_EQ(run.lastStatus, c.lastStatus) << what;
    EXPECT_EQ(run.progress.back(), c.lastProgress) << what;
    if (c.lastStatus == kSuccess) {
      EXPECT_EQ(ReadsSinceLastWrite(), 1) << "the close command waits one read";
    } else if (c.lastStatus == kFinalInvalid) {
      EXPECT_EQ(run.RunLines().back(), "Invalid response to verify command 0 -1");
    } else if (c.lastStatus == kNotFound) {
      EXPECT_EQ(run.RunLines(), (Lines{"", "MELOR not detected"})) << what;
      EXPECT_EQ(ReadsMade(), 300) << "one read for each of the 300 attempts";
    }
    EXPECT_TRUE(PortIsFree("COM3"));
  }
  ScriptReads({}, false);
}

// The device's verdict, a wrong byte read back, or a device that vanishes when a line beginning
// with `trigger` is logged: each ending has its own words.
TEST_F(RunTest, each_failing_step_ends_the_run_in_its_own_words) {
  // The second chunk is erased, so it goes as a blank program command; it is read back and
  // compared all the same (bad-data flips the lowest bit of its last byte, index 0x1ff).
  Bytes image = PseudoRandomBytes(1024, 23);
  std::fill(image.begin() + 512, image.end(), 0xFF);
  std::string hex = WriteFile("image.hex", HexFileFor(image));
  const std::string kSendFailed = "SendPacket failed with error 1f";
  const std::string kProgrammed = "MELOR Firmware image successfully programmed.";
  const std::string kNone = "Last Status: Unexpected response from MELOR";
  struct Case {
    std::vector<std::string> options;
    std::string trigger;
    Lines lastLines;
    std::string lastStatus;
  } cases[] = {
      {{"--final", "E"}, "", {"MELOR reporting programming error: Flash not blank"},
       "MELOR reporting: Flash not blank error."},
      {{"--final", "G"}, "", {"MELOR reporting programming error: Flash error"},
       "MELOR reporting: Flash programming error."},
      // A verdict whose frame failed its checksum may have been changed on the way: no verdict;
      // nor is a reply of the final command's code alone.
      {{"--fault", "bad-checksum@final:1"}, "", {"Invalid response to verify command 3 8"}, kNone},
      {{"--fault", "short@final:1"}, "", {"Invalid response to verify command 1 8"}, kNone},
      {{"--fault", "bad-data@read:2"}, "", {"Verify error (1ff) fe ff"}, "Last Status: Verify error."},
      {{}, "bootloader v", {kSendFailed, "COM error sending data"},
       "Last Status: COM error sending data."},
      {{}, "Sending firmware image: done.", {kSendFailed, "COM error sending read command"},
       "Last Status: COM error sending read command."},
      {{}, "Finalizing...", {kSendFailed, "COM error sending verify command"},
       "Last Status: COM error sending final command."},
      // A close command that cannot be sent leaves the success standing.
      {{}, kProgrammed, {kProgrammed, kSendFailed}, kSuccess},
  };
  for (const Case& c : cases) {
    SimDevice& device = StartSim("COM1", c.options);
    RunOutcome run = Run(hex, "COM1", [&](const std::string& line) {
      if (!c.trigger.empty() && line.rfind(c.trigger, 0) == 0) KillSim(device);
    });
    Lines lines = run.RunLines();
    lines.erase(lines.begin(), lines.end() - std::min(lines.size(), c.lastLines.size()));
    EXPECT_EQ(lines, c.lastLines);
    EXPECT_EQ(run.lastStatus, c.lastStatus);
    EXPECT_TRUE(run.showSetupSent);
    if (device.pid > 0) {
      EXPECT_TRUE(PortIsFree("COM1"));
      StopSim(device);
    }
  }
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
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + 3),
            (Lines{"", "SendPacket failed with error 1f", "Found MELOR device on COM2"}));
  EXPECT_EQ(run.lastStatus, kSuccess);
  Lines received = CommandsReceived(TraceOf(second));
  EXPECT_EQ(std::count(received.begin(), received.end(), "query"), 6);
}

// Behind a USB serial adapter replies arrive in bursts 16 ms apart, so a frame is often split
// across reads; with --fast, reads end on a quiet line, and each reply must still be read whole.
// The first chunk's 512 bytes all need an escape: about 1,040 bytes, 180 ms at 57600 baud. The
// device answers 1,000 ms after the last of them, within the ten empty reads a program reply may
// take only if their count starts when the frame has gone.
TEST_F(RunTest, a_fast_cli_run_reads_whole_late_replies_from_an_adapter_that_hands_them_over_in_bursts) {
  Bytes image = PseudoRandomBytes(1536, 25);
  std::fill(image.begin(), image.begin() + 512, 0x55);
  std::string hex = WriteFile("image.hex", HexFileFor(image));
  SimDevice& device = StartSim("COM6", {"--baud", "57600", "--burst-ms", "16", "--fault",
                                        "late@program:1", "--late-ms", "1000"});

  CliResult run = Cli({"--fast", hex, "COM6"});

  EXPECT_EQ(run.exitStatus, 0);
  ASSERT_FALSE(run.out.empty());
  EXPECT_EQ(run.out.back(), kSuccess);
  EXPECT_TRUE(PortIsFree("COM6"));
  image.resize(0x80000, 0xFF);
  EXPECT_EQ(StopSim(device), image);
}

}  // namespace
