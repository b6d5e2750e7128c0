// pentrel-cli's commands end to end: verify, read, ports, JSON lines, usage (what info logs:
// tests/bootloader/command_threads_test.cpp; records: several_ports_test.cpp).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "run_fixture.h"

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

  // The SHA-256 of bytes as sha256sum computes it.
  std::string Sha256Sum(const Bytes& bytes) {
    std::string path = WriteFile("digested.bin", std::string(bytes.begin(), bytes.end()));
    FILE* pipe = popen(("sha256sum '" + path + "'").c_str(), "r");
    char digest[65] = {};
    EXPECT_NE(fgets(digest, sizeof digest, pipe), nullptr);
    pclose(pipe);
    return digest;
  }
};

TEST_F(CliTest, read_writes_hex_files_of_any_length_that_hold_the_flash_and_load_back) {
  // Data, an erased stretch that the HEX file leaves out, then data past a 16-byte boundary.
  Bytes image = PseudoRandomBytes(0x1805, 9);
  std::fill(image.begin() + 0x400, image.begin() + 0x800, 0xFF);
  SimDevice& device = StartSim("COM3", {"--flash-size", "0x10000"});
  // A raw file's read: the Wine console script's, where text mode could mangle it.
  std::string whole = folder_ + "/whole.HEX", partHex = folder_ + "/part.hex";

  // --fast, as the whole flash in 128 reads would otherwise wait out as many read periods.
  CliResult programmed = Cli({WriteFile("image.hex", HexFileFor(image)), "COM3", "--fast"});
  CliResult reads[] = {Cli({"read", whole, "COM3", "--fast"}),
                       Cli({"read", "--length", "4096", partHex, "COM3", "--fast"})};
  CliResult reloaded = Cli({"verify", whole, "COM3", "--fast"});
  Bytes flash = StopSim(device);

  EXPECT_EQ(programmed.exitStatus, 0);
  for (const CliResult& read : reads) {
    EXPECT_EQ(read.exitStatus, 0);
    EXPECT_EQ(read.out.back(), "Last Status: MELOR flash read.");
  }
  ASSERT_EQ(flash.size(), 0x10000u);
  EXPECT_EQ(ThroughSrecCat(partHex, 0x1000), Bytes(flash.begin(), flash.begin() + 0x1000));
  EXPECT_EQ(ThroughSrecCat(whole, 0x10000), flash);
  EXPECT_EQ(reloaded.exitStatus, 0);
  EXPECT_EQ(reloaded.out.back(), "Last Status: MELOR flash matches the image.");
  EXPECT_EQ(PartFiles(), 0);
}

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

TEST_F(CliTest, ports_lists_each_usable_port_with_its_device) {
  CliResult none = Cli({"ports"});
  SimDevice& first = StartSim("COM5");
  SimDevice& second = StartSim("COM7");
  CliResult two = Cli({"ports"});

  EXPECT_EQ(none.exitStatus, 1);
  EXPECT_EQ(none.out, Lines{"No available COM ports detected"});
  EXPECT_EQ(two.exitStatus, 0);
  std::sort(two.out.begin(), two.out.end());
  EXPECT_EQ(two.out, (Lines{"COM5\t" + first.ptyPath + "\t", "COM7\t" + second.ptyPath + "\t"}));
}

// A port another program has open is refused by name, naming that program on stderr, and left
// out by "probe all"; once the program ends, the port is found.
TEST_F(CliTest, a_port_open_in_another_program_is_named_and_passed_over_until_it_ends) {
  SimDevice& device = StartSim("COM5");
  int opened[2];
  ASSERT_EQ(pipe(opened), 0);
  pid_t holder = fork();
  if (holder == 0) {
    open(device.ptyPath.c_str(), O_RDONLY | O_NOCTTY);
    close(opened[1]);
    pause();
  }
  close(opened[1]);
  char none;
  read(opened[0], &none, 1);  // ends when the child has opened the port
  close(opened[0]);
  CliResult named = Cli({"info", "COM5"}), probed = Cli({"info"});
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);

  EXPECT_EQ(named.out.front(), "Unable to open COM5 (5)");
  EXPECT_EQ(named.err, Lines{"COM5 (" + device.ptyPath + ") is open in cli_tests (pid " +
                             std::to_string(holder) + ")"});
  EXPECT_EQ(probed.out.front(), "No available COM ports detected");
  EXPECT_EQ(probed.err, Lines{});
  EXPECT_EQ(Cli({"info", "COM5"}).exitStatus, 0);
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
  EXPECT_EQ(result, (Json{{"event", "result"}, {"command", "verify"}, {"port", "COM3"},
                          {"ok", false}, {"status", "Last Status: Verify error."}, {"exit", 1},
                          {"device", {{"version", "1.2"}, {"id", 15}, {"flash_size", 524288}}},
                          {"image", {{"bytes", 1016}, {"sha256", Sha256Sum(image)}}}}));
}

// A pseudo-terminal has no modem lines: each run, a child's and a station's too, ends before
// anything is sent.
TEST_F(CliTest, reset_on_a_port_without_modem_lines_ends_with_one_line_and_status_1) {
  SimDevice& first = StartSim("COM1");
  SimDevice& second = StartSim("COM2");
  std::string hex = WriteFile("image.hex", HexFileFor(Bytes(64, 0x5A)));
  CliResult alone = Cli({hex, "COM1", "--reset", "rts"});
  EXPECT_EQ(alone.exitStatus, 1);
  EXPECT_EQ(alone.out, Lines{"Last Status: Unable to reset MELOR: the port cannot drive RTS."});
  CliResult both = Cli({hex, "COM1", "COM2", "--reset", "dtr"});
  EXPECT_EQ(both.exitStatus, 1);
  EXPECT_EQ(both.out[1], "[COM2] Last Status: Unable to reset MELOR: the port cannot drive DTR.");
  CliResult station = Cli({hex, "COM1", "--repeat", "--reset", "dtr"});  // ends, not waits
  EXPECT_EQ(station.exitStatus, 1);
  EXPECT_EQ(station.out.back(), "Last Status: Unable to reset MELOR: the port cannot drive DTR.");
  EXPECT_TRUE(TraceOf(first).empty());
  EXPECT_TRUE(TraceOf(second).empty());
}

TEST_F(CliTest, long_lines_come_whole_in_text_and_from_thirty_json_processes_on_one_pipe) {
  // A stable by-id name, longer than the desktop window's rows; thirty processes log it at once.
  std::string port = folder_ + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
  std::string whole = "Unable to open " + port + " (2)";
  EXPECT_EQ(Cli({"info", port}).out, (Lines{whole, "Unable to open COM port " + port,
                                             "MELOR not detected",
                                             "Last Status: Unable to open COM port."}));
  for (int round = 0; round < 5; round++) {
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
