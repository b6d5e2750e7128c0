// pentrel-cli on several ports at once and as a station: one child per port, prefixed lines, a
// summary, records appended by the children themselves, children that end with their parent, the
// station's count, its quiet waiting and its one image (signals passed on:
// process_endings_test.cpp).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>

#include "run_fixture.h"

namespace {

using Json = nlohmann::json;
using Lines = std::vector<std::string>;

// The ports of a record file's lines, sorted; each line must be a whole result.
Lines RecordPorts(const std::string& path) {
  Lines ports;
  for (const std::string& line : LinesOf(path)) {
    Json entry = Json::parse(line);
    for (const char* key : {"time", "host", "status"}) EXPECT_TRUE(entry[key].is_string()) << line;
    ports.push_back(entry["port"]);
  }
  std::sort(ports.begin(), ports.end());
  return ports;
}

// The lines that match the pattern.
Lines Matching(const Lines& lines, const char* pattern) {
  Lines matching;
  std::copy_if(lines.begin(), lines.end(), std::back_inserter(matching),
               [&](const std::string& line) { return std::regex_match(line, std::regex(pattern)); });
  return matching;
}

class SeveralPortsTest : public RunTest {
 protected:
  std::string SmallImage() { return WriteFile("image.hex", HexFileFor(image_)); }
  std::string RecordFile() { return folder_ + "/record.jsonl"; }
  Bytes image_ = PseudoRandomBytes(64, 12);
};

TEST_F(SeveralPortsTest, each_port_runs_in_its_own_child_with_prefixed_lines_and_a_summary) {
  SimDevice& good = StartSim("COM5");
  StartSim("COM7", {"--final", "E"});

  signal(SIGCHLD, SIG_IGN);  // inherited: the kernel reaps its children unasked
  CliProcess ignoring(folder_, {SmallImage(), "COM6", "COM8"});
  signal(SIGCHLD, SIG_DFL);
  CliResult lost = ignoring.Wait();
  CliResult programmed = Cli({SmallImage(), "COM7", "COM5", "--record", RecordFile()});
  CliResult verified = Cli({"verify", SmallImage(), "COM5", "COM7", "--json"});
  // /dev/full opens as a record file would, and then refuses every line.
  CliResult unwritable = Cli({"verify", SmallImage(), "COM5", "COM7", "--json", "--record",
                              "/dev/full"});

  EXPECT_EQ(lost.out.back(), "Programmed 0 of 2 devices.");
  EXPECT_EQ(programmed.exitStatus, 1);
  ASSERT_GE(programmed.out.size(), 3u);
  EXPECT_EQ(Lines(programmed.out.end() - 3, programmed.out.end()),
            (Lines{"[COM7] MELOR reporting: Flash not blank error.",
                   "[COM5] Last Status: MELOR successfully programmed.",
                   "Programmed 1 of 2 devices."}));
  EXPECT_EQ(Matching(programmed.out, R"(\[COM[57]\] .*)").size(), programmed.out.size() - 1);
  EXPECT_EQ(Matching(programmed.out, R"(\[COM5\] Found MELOR device on COM5)").size(), 1u);
  // Each child appended its own whole line to the one file.
  EXPECT_EQ(RecordPorts(RecordFile()), (Lines{"COM5", "COM7"}));
  // A record that cannot be written fails its run, in its result too.
  EXPECT_EQ(unwritable.exitStatus, 1);
  EXPECT_EQ(unwritable.err.size(), 2u);
  EXPECT_EQ(Matching(unwritable.out, R"(\{"event":"result",.*"ok":false,.*"exit":1.*)").size(), 2u);
  EXPECT_EQ(verified.exitStatus, 0);
  EXPECT_EQ(Matching(verified.out, R"(\{.*"port":"COM[57]".*\})").size(), verified.out.size());
  EXPECT_EQ(Matching(verified.out, R"(\{"event":"result",.*"port":"COM5","ok":true,.*)").size(), 1u);
  EXPECT_EQ(Matching(verified.out, R"(\{"event":"result",.*"port":"COM7","ok":true,.*)").size(), 1u);
  Bytes flash = StopSim(good);
  EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 64), image_);
}

TEST_F(SeveralPortsTest, a_station_counts_every_run_that_found_a_board_and_ends_by_its_count) {
  // The second run fails at once on a reply that is not the final command's.
  SimDevice& device = StartSim("COM5", {"--fault", "bad-echo@final:2"});

  CliProcess station(folder_, {SmallImage(), "COM5", "--repeat", "--record", RecordFile()});
  ASSERT_TRUE(station.AwaitOutput("Station: 2 programmed, 1 failed."));
  KillSim(device);
  // The board is gone: the station waits for the next one, and Ctrl-C ends it by its count.
  ASSERT_TRUE(station.AwaitOutput("Unable to open COM port COM5"));
  station.Signal(SIGINT);
  CliResult ended = station.Wait();

  EXPECT_EQ(ended.exitStatus, 1);
  Lines counts = Matching(ended.out, "Station: .*");
  ASSERT_GE(counts.size(), 3u);
  EXPECT_EQ(Lines(counts.begin(), counts.begin() + 3),
            (Lines{"Station: 1 programmed, 0 failed.", "Station: 1 programmed, 1 failed.",
                   "Station: 2 programmed, 1 failed."}));
  // Every counted run left its record line; the runs that waited for a board left none.
  EXPECT_EQ(RecordPorts(RecordFile()).size(), counts.size());
}

TEST_F(SeveralPortsTest, bars_of_long_port_names_in_an_80_column_terminal_leave_no_stale_rows) {
  // Stable by-id names: with its bar, a port's row is wider than the terminal.
  std::string byId = folder_ + "/usb-FTDI_FT232R_USB_UART_A50285B";
  std::string ports[] = {byId + "I-if00-port0", byId + "J-if00-port0"};
  StartSim("COM5", {"--link", ports[0]});
  StartSim("COM7", {"--link", ports[1]});
  std::string tmux = "tmux -S '" + folder_ + "/tmux' ";
  std::string run = "'" PENTREL_CLI_PATH "' '" + SmallImage() + "' '" + ports[0] + "' '" +
                    ports[1] + "'; tmux wait-for -S ended; sleep 600";

  ASSERT_EQ(system((tmux + "new-session -d -x 80 -y 40 \"" + run + "\"").c_str()), 0);
  system(("timeout 120 " + tmux + "wait-for ended; " + tmux + "capture-pane -p -S - >'" + folder_ +
          "/screen'; " + tmux + "kill-server").c_str());
  Bytes screen = FileBytes(folder_ + "/screen");
  std::string shown(screen.begin(), screen.end());

  // The run ended, and every bar row was erased: only bar rows hold a percentage.
  EXPECT_TRUE(shown.find("Programmed 2 of 2") != std::string::npos && shown.find('%') == shown.npos)
      << shown;
}

TEST_F(SeveralPortsTest, children_end_with_their_parent_and_the_finished_runs_are_recorded) {
  // 16 KiB at 57600 baud keep COM7 writing for seconds after COM5 is done.
  image_ = PseudoRandomBytes(16384, 13);
  StartSim("COM5");
  StartSim("COM7", {"--baud", "57600"});
  CliProcess parent(folder_, {SmallImage(), "COM5", "COM7", "--record", RecordFile()});
  while (RecordPorts(RecordFile()).empty()) usleep(20000);

  parent.Signal(SIGKILL);
  parent.Wait();
  // COM7's child is told of its parent's end and puts its port back, in its own time.
  for (int wait = 0; wait < 300 && !PortIsFree("COM7"); wait++) usleep(100000);

  EXPECT_TRUE(PortIsFree("COM7"));
  EXPECT_EQ(RecordPorts(RecordFile()), Lines{"COM5"});
}

TEST_F(SeveralPortsTest, a_station_waits_quietly_for_any_missing_board_and_keeps_its_image) {
  // COM5 is missing, COM6 held by another program, and COM7's board answers only once a whole
  // search has gone unanswered; the file lacks its end-of-file record, as one being copied may.
  std::string text = HexFileFor(image_), hex = WriteFile("image.hex", text.erase(text.size() - 12));
  StartSim("COM7", {"--answer-after", "300"});
  // Only this process holds COM6: a device started later must not inherit it, or the holder
  // named could change with the order of the pids.
  int holder = open(StartSim("COM6").ptyPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  CliProcess station(folder_, {hex, "COM5", "COM6", "COM7", "--repeat"});
  ASSERT_TRUE(station.AwaitOutput("[COM7] Station: 1 programmed, 0 failed."));
  StartSim("COM5");
  ASSERT_TRUE(station.AwaitOutput("[COM5] Station: 1 programmed, 0 failed."));
  // A new file: every port's next run refuses it, and the station stops.
  std::filesystem::rename(WriteFile("new.hex", HexFileFor(PseudoRandomBytes(64, 14))), hex);
  if (!station.AwaitOutput("[COM6] Last Status: Input file changed.")) station.Signal(SIGKILL);
  CliResult ended = station.Wait();
  close(holder);

  EXPECT_EQ(ended.exitStatus, 1);
  EXPECT_EQ(ended.err[0], "pentrel-cli: warning: " + hex +
                             " has no end-of-file record; it may have been cut short");
  for (const char* line : {"[COM5] Unable to open COM port COM5", "[COM6] Unable to open COM6 (5)",
                           "[COM7] MELOR not detected"}) {
    EXPECT_EQ(std::count(ended.out.begin(), ended.out.end(), line), 1) << line;
  }
}

TEST_F(SeveralPortsTest, a_station_whose_next_run_cannot_start_stops_with_its_reason) {
  StartSim("COM5");
  std::filesystem::copy_file(PENTREL_CLI_PATH, folder_ + "/cli");
  CliProcess station(folder_, {SmallImage(), "COM5", "--repeat"}, folder_ + "/cli");
  ASSERT_TRUE(station.AwaitOutput("Station: 1 programmed, 0 failed."));
  std::filesystem::remove(folder_ + "/cli");
  CliResult ended = station.Wait();

  EXPECT_EQ(ended.exitStatus, 1);
  EXPECT_EQ(Matching(ended.out, "pentrel-cli: unable to start a run for COM5 \\(2\\)").size(), 1u);
}

}  // namespace
