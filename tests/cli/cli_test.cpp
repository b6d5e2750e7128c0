// pentrel-cli's commands end to end: verify, read, ports, JSON lines, usage (what info logs:
// tests/bootloader/command_threads_test.cpp; records: several_ports_test.cpp).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "cli/command_line.h"
#include "cli/flash_file.h"
#include "cli/single_run.h"
#include "run_fixture.h"
#include "scripted_reads.h"
#include "settings/settings.h"

namespace {

using Json = nlohmann::json;
using Lines = std::vector<std::string>;

class CliTest : public RunTest {
 protected:
  // The HEX file's data from 0x1D000000 as srec_cat reads it, erased bytes filled in.
  Bytes ThroughSrecCat(const std::string& hex, uint32_t length) {
    std::string bin = hex + ".srec.bin";
    std::string command = "srec_cat '" + hex + "' -intel -offset -0x1D000000 -fill 0xFF 0 " +
                          std::to_string(length) + " -o '" + bin + "' -binary";
    EXPECT_EQ(system(command.c_str()), 0);
    return FileBytes(bin);
  }

  // The partial files a read left in the test's folder.
  long PartFiles() {
    auto isPart = [](const auto& entry) { return entry.path().extension() == ".part"; };
    return std::count_if(std::filesystem::directory_iterator(folder_), {}, isPart);
  }
};

TEST_F(CliTest, a_failed_read_leaves_no_file_and_keeps_an_existing_one) {
  // The read's file goes in place only when whole, so an existing one also stands for none.
  StartSim("COM3", {"--fault", "no-reply@read:2"});
  StartSim("COM4", {"--baud", "57600"});
  std::string earlier = "earlier contents", kept = WriteFile("kept.bin", earlier);

  CliResult failed = Cli({"read", kept, "COM3", "--length", "0x1000"});
  CliProcess interrupted(folder_, {"read", kept, "COM4"});
  ASSERT_TRUE(interrupted.AwaitOutput("Found MELOR device on COM4"));
  interrupted.Signal(SIGINT);

  EXPECT_EQ(failed.exitStatus, 1);
  EXPECT_EQ(failed.out.back(), "Last Status: Timeout error waiting for response to read.");
  EXPECT_EQ(interrupted.Wait().exitStatus, 130);
  EXPECT_EQ(FileBytes(kept), Bytes(earlier.begin(), earlier.end()));
  EXPECT_EQ(PartFiles(), 0);
}

TEST_F(CliTest, read_then_program_then_verify_round_trips_hex_and_bin_files_of_any_length) {
  // Data, an erased stretch that the HEX file leaves out, then data past a 16-byte boundary.
  Bytes image = PseudoRandomBytes(0x1805, 4);
  std::fill(image.begin() + 0x400, image.begin() + 0x800, 0xFF);
  ProgrammedDevice(image, {"--flash-size", "0x10000"});
  image.resize(0x10000, 0xFF);
  // A name of 249 characters: its temporary file beside it must still fit.
  std::string longName = folder_ + "/" + std::string(244 - folder_.size(), 'b') + ".bin";
  const std::string backups[] = {folder_ + "/backup.HEX", folder_ + "/backup.BIN", longName};

  for (size_t i = 0; i < std::size(backups); i++) {
    std::string port = "COM" + std::to_string(4 + i);
    SimDevice& copy = StartSim(port, {"--flash-size", "0x10000"});
    CliResult steps[] = {Cli({"read", backups[i], "COM3"}), Cli({backups[i], port}),
                         Cli({"verify", backups[i], port})};
    for (const CliResult& step : steps) EXPECT_EQ(step.exitStatus, 0) << step.out.back();
    EXPECT_EQ(StopSim(copy), image) << backups[i];
  }
  // The HEX files hold the flash as another program reads them; a shorter read, its start.
  std::string partHex = folder_ + "/part.hex";
  EXPECT_EQ(Cli({"read", "--length", "4096", partHex, "COM3"}).exitStatus, 0);
  EXPECT_EQ(ThroughSrecCat(backups[0], 0x10000), image);
  EXPECT_EQ(ThroughSrecCat(partHex, 0x1000), Bytes(image.begin(), image.begin() + 0x1000));
  // Raw bytes placed further up, the flash below them left as it was.
  SimDevice& placed = StartSim("COM8", {"--flash-size", "0x10000"});
  std::string part = WriteFile("part.bin", std::string(image.begin(), image.begin() + 0x100));
  EXPECT_EQ(Cli({part, "COM8", "--address", "0x1D000200"}).exitStatus, 0);
  Bytes expected(0x10000, 0xFF);
  std::copy_n(image.begin(), 0x100, expected.begin() + 0x200);
  EXPECT_EQ(StopSim(placed), expected);
  EXPECT_EQ(PartFiles(), 0);
}

// The default ends a read once the line is quiet after a byte; --plain-reads waits out each read's
// 100 ms. A reply dribbled a byte every 25 ms thus takes a read a byte by default, and about one
// for every four bytes with --plain-reads. Each run counts its reads in a child of the test, a
// process of its own as pentrel-cli's run is, and hands the count back as its exit status.
TEST_F(CliTest, reads_end_on_a_quiet_line_by_default_and_last_their_period_with_plain_reads) {
  const Lines cases[] = {{"info", "COM3"}, {"info", "COM4", "--fast"}, {"info", "COM5", "--plain-reads"}};
  int reads[3];
  for (int i = 0; i < 3; i++) {
    StartSim(cases[i][1], {"--fault", "dribble@query:1", "--gap-ms", "25"});
    if (fork() == 0) {
      Request request;
      std::string reason;
      ParseCommandLine(cases[i], request, reason);
      ResetSettings();
      ScriptReads({}, false);
      _exit(RunHere(request) == 0 ? std::min(ReadsMade(), 250) : 255);  // the count as status
    }
    int status = 0;
    wait(&status);
    reads[i] = WEXITSTATUS(status);
    EXPECT_LT(reads[i], 250) << "a failed run, or too many reads to tell";
  }
  EXPECT_GE(reads[0], 2 * reads[2]);
  EXPECT_GE(reads[1], 2 * reads[2]);
  EXPECT_GT(reads[2], 0);
}

// The temporary file a read fills has a name of its own making, so a link planted where a
// predictable name would be is never written through.
TEST_F(CliTest, a_read_never_writes_through_a_link_at_a_guessable_temporary_name) {
  std::string out = folder_ + "/backup.bin", victim = WriteFile("victim", "kept");
  for (std::string guess : {out + ".part", out + "." + std::to_string(getpid()) + ".part"}) {
    ASSERT_EQ(symlink(victim.c_str(), guess.c_str()), 0);
  }
  const uint8_t bytes[] = {1, 2, 3, 4};

  ReadRequest read = FlashFileRequest(std::u16string(out.begin(), out.end()), 4, false);
  EXPECT_TRUE(read.open() && read.sink(0, bytes, 4) && read.finish(4));

  EXPECT_EQ(FileBytes(out), Bytes(std::begin(bytes), std::end(bytes)));
  EXPECT_EQ(FileBytes(victim), (Bytes{'k', 'e', 'p', 't'}));
}

TEST_F(CliTest, ports_lists_each_usable_port_with_its_device) {
  CliResult none = Cli({"ports"});
  std::string pty = StartSim("COM5").ptyPath;
  CliResult one = Cli({"ports"});

  EXPECT_EQ(std::pair(none.exitStatus, none.out),
            std::pair(1, Lines{"No available COM ports detected"}));
  EXPECT_EQ(std::pair(one.exitStatus, one.out), std::pair(0, Lines{"COM5\t" + pty + "\t"}));
}

TEST_F(CliTest, json_lines_parse_and_the_result_carries_the_last_status_device_and_image) {
  // 1016 bytes to the image (the run rounds up): 56 past a block, the digest needs one more.
  Bytes image = PseudoRandomBytes(1012, 3);
  ProgrammedDevice(image);
  image[10] ^= 0x01;
  // A Latin-1 name, not UTF-8: the file it names is opened, and the JSON stays valid UTF-8.
  std::string changed = WriteFile("gepr\xFC" "ft.hex", HexFileFor(image));

  CliResult verify = Cli({"--json", "verify", changed, "COM3"});

  EXPECT_EQ(verify.exitStatus, 1);
  EXPECT_TRUE(verify.err.empty());
  ASSERT_GE(verify.out.size(), 2u);
  std::vector<Json> events;
  for (const std::string& line : verify.out) events.push_back(Json::parse(line));
  for (size_t i = 0; i + 1 < events.size(); i++) {
    EXPECT_TRUE(events[i]["event"] == "log" || events[i]["event"] == "progress") << events[i];
  }
  // The differing bytes themselves are the run's tests' to check.
  std::string difference = events[events.size() - 2]["text"];
  EXPECT_EQ(difference.rfind("Verify error (0a) ", 0), 0u) << difference;
  Json result = events.back();
  EXPECT_TRUE(result["seconds"].is_number());
  result.erase("seconds");
  image.resize(1016, 0xFF);
  std::string bin = WriteFile("image.bin", std::string(image.begin(), image.end()));
  EXPECT_EQ(system(("sha256sum <'" + bin + "' | cut -c1-64 >'" + bin + ".sum'").c_str()), 0);
  EXPECT_EQ(result, (Json{{"event", "result"}, {"command", "verify"}, {"port", "COM3"},
                          {"ok", false}, {"status", "Last Status: Verify error."}, {"exit", 1},
                          {"device", {{"version", "1.2"}, {"id", 15}, {"flash_size", 524288}}},
                          {"image", {{"bytes", 1016}, {"sha256", LinesOf(bin + ".sum").at(0)}}}}));
}

// Each of these ends the command before anything is sent: a .bin file that cannot be placed, a
// record file that cannot be opened, a reset the port cannot drive (a pseudo-terminal has no
// modem lines), for a child's and a station's run too.
TEST_F(CliTest, bad_bin_files_record_files_and_resets_stop_before_any_board_is_touched) {
  struct Case {
    std::string name, contents, address, lastStatus;
  };
  const Case cases[] = {
      {"empty.bin", "", "", "Last Status: Input file is empty."},
      {"whole.bin", std::string(0x90000, 'a'), "0x1D000004",
       "Last Status: Input file too large for the image."},
      {"over.BIN", std::string(0x90001, 'a'), "", "Last Status: Input file too large for the image."},
      {"odd.bin", "abcd", "0x1D000002", "Last Status: Bad address for the binary file."},
      {"below.bin", "abcd", "0x1CFFFFFC", "Last Status: Bad address for the binary file."},
      {"above.bin", "abcd", "0x1D090000", "Last Status: Bad address for the binary file."}};
  SimDevice* devices[] = {&StartSim("COM3"), &StartSim("COM4")};
  std::string hex = WriteFile("image.hex", HexFileFor(PseudoRandomBytes(64, 5)));
  std::string record = folder_ + "/missing/records.jsonl";
  std::string cannot = "Last Status: Unable to reset MELOR: the port cannot drive ";

  for (const Case& c : cases) {
    Lines arguments = {"verify", WriteFile(c.name, c.contents), "COM3"};
    if (!c.address.empty()) arguments.insert(arguments.end(), {"--address", c.address});
    CliResult result = Cli(arguments);
    EXPECT_EQ(result.exitStatus, 1) << c.name;
    EXPECT_EQ(result.out.size(), 2u) << c.name;
    EXPECT_EQ(result.out.back(), c.lastStatus) << c.name;
  }
  CliResult records[] = {Cli({hex, "COM3", "--record", record}),
                         Cli({hex, "COM3", "COM4", "--record", record, "--json"})};
  CliResult alone = Cli({hex, "COM3", "--reset", "rts"});
  CliResult both = Cli({hex, "COM3", "COM4", "--reset", "dtr"});
  CliResult station = Cli({hex, "COM3", "--repeat", "--reset", "dtr"});  // ends, not waits

  for (const CliResult& result : records) {
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(result.out.empty());
    EXPECT_EQ(result.err, Lines{"pentrel-cli: cannot open the record file " + record});
  }
  EXPECT_EQ(alone.out, Lines{cannot + "RTS."});
  EXPECT_EQ(both.out[1], "[COM4] " + cannot + "DTR.");
  EXPECT_EQ(station.out.back(), cannot + "DTR.");
  for (const CliResult* result : {&alone, &both, &station}) EXPECT_EQ(result->exitStatus, 1);
  for (SimDevice* device : devices) EXPECT_TRUE(TraceOf(*device).empty());
}

TEST_F(CliTest, long_lines_come_whole_in_text_and_from_thirty_json_processes_on_one_pipe) {
  // A stable by-id name, longer than the desktop window's rows; thirty processes log it at once.
  std::string port = folder_ + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
  std::string whole = "Unable to open " + port + " (2)";
  EXPECT_EQ(Cli({"info", port}).out, (Lines{whole, "Unable to open COM port " + port,
                                             "MELOR not detected",
                                             "Last Status: Unable to open COM port."}));
  FILE* shared = popen(("for i in $(seq 30); do '" PENTREL_CLI_PATH "' info '" + port +
                        "' --json & done; wait").c_str(), "r");
  int wholeLines = 0;
  for (char line[4096]; fgets(line, sizeof line, shared) != nullptr;) {
    Json event = Json::parse(line, nullptr, false);
    EXPECT_TRUE(event.is_object()) << line;
    wholeLines += event.is_object() && event.value("text", "") == whole ? 1 : 0;
  }
  pclose(shared);
  EXPECT_EQ(wholeLines, 30);
}

TEST_F(CliTest, every_usage_error_ends_with_status_2_and_a_one_line_reason) {
  const Lines cases[] = {
      {}, {"--bogus", "image.hex"}, {"verify"}, {"read"}, {"info", "COM1", "COM2"},
      {"ports", "COM1"}, {"image.hex", "--record"}, {"read", "out.bin", "--repeat"},
      // --length: a whole number, a multiple of 4 from 4 on, and for read only
      {"read", "out.bin", "--length", "6"}, {"read", "out.bin", "--length", "0"},
      {"read", "out.bin", "--length", "0x"}, {"read", "out.bin", "--length", "12abc"},
      {"read", "out.bin", "--length", "99999999999"}, {"verify", "image.hex", "--length", "4"},
      // ports: no name longer than a port's, "probe all" alone, no port twice
      {"image.hex", std::string(300, 'C')}, {"image.hex", "COM1", "probe all"},
      {"verify", "image.hex", "COM1", "com1"},
      // --address only for a .bin file, and a number; read timings that contradict each other
      {"image.hex", "--address", "0x1D000000"}, {"image.bin", "--address", "1D000000"},
      {"read", "out.bin", "--address", "0"}, {"image.hex", "--fast", "--plain-reads"},
      // an output name longer than the system takes (255 bytes a name)
      {"read", std::string(128, 'o') + "\xC3\xA9" + std::string(126, 'o') + ".bin"},
      // --reset: dtr or rts, on named ports only (never on whatever "probe all" finds)
      {"info", "--reset", "dtr"}, {"image.hex", "COM1", "--reset", "dsr"}, {"ports", "--reset", "rts"},
      {"image.hex", "COM1", "--reset-ms", "50"}, {"info", "COM1", "--reset", "rts", "--reset-ms", "0"}};

  for (const Lines& arguments : cases) {
    CliResult result = Cli(arguments);
    std::string shown = arguments.empty() ? "(none)" : arguments[0] + " ...";
    EXPECT_EQ(result.exitStatus, 2) << shown;
    EXPECT_TRUE(result.out.empty()) << shown;
    ASSERT_EQ(result.err.size(), 1u) << shown;
    EXPECT_EQ(result.err[0].rfind("pentrel-cli: ", 0), 0u) << result.err[0];
  }
}

}  // namespace
