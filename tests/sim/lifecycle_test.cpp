// melor-sim's life: the terminal closed and reopened, the link, the end of a run with its summary
// and dump, and the command line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "sim_process.h"

namespace {

const Bytes kQuery = {0x09, 0x00, 0x00};

// User and system CPU time of a process so far, from /proc.
double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i) fields >> skip;  // state .. cmajflt
  long utime = 0, stime = 0;
  fields >> utime >> stime;
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace

TEST(SimLifecycle, keeps_serving_across_close_and_reopen_without_spinning_or_stale_replies) {
  SimProcess sim({"--fault", "late@2", "--late-ms", "300"});
  EXPECT_EQ(sim.Exchange(kQuery).size(), 12u);
  sim.ClosePort();
  double before = CpuSeconds(sim.pid());
  std::this_thread::sleep_for(Millis(1000));
  EXPECT_LT(CpuSeconds(sim.pid()) - before, 0.5);  // waiting for a reopen is not a busy loop
  sim.OpenPort();
  // A reply due after the terminal closed is not left for the next opener.
  sim.SendCommand(kQuery);
  std::this_thread::sleep_for(Millis(50));
  sim.ClosePort();
  std::this_thread::sleep_for(Millis(600));
  sim.OpenPort();
  EXPECT_TRUE(sim.StaysSilent(Millis(300)));
  EXPECT_EQ(sim.Exchange(kQuery).size(), 12u);
  sim.Stop();
  int downs = 0;
  for (const auto& e : sim.Trace()) downs += e.event == "link" && e.fields.at("state") == "down";
  EXPECT_EQ(downs, 2);
}

TEST(SimLifecycle, link_replaces_a_stale_symlink_and_goes_at_exit) {
  char folder[] = "/tmp/melor-link-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  std::filesystem::path link = std::filesystem::path(folder) / "melor0";
  std::filesystem::create_symlink("/dev/pts/nonexistent", link);
  {
    SimProcess sim({"--link", link.string()});
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.slave());
    EXPECT_EQ(sim.Stop().exitCode, 0);
    EXPECT_FALSE(std::filesystem::is_symlink(link));
  }
  std::ofstream(link.string()) << "not a link";
  Finished refused = RunSimToEnd({"--link", link.string()});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("not a symlink"), std::string::npos) << refused.err;
  EXPECT_TRUE(std::filesystem::is_regular_file(link));
  std::filesystem::remove_all(folder);
}

TEST(SimLifecycle, ends_with_a_summary_of_commands_and_bytes_and_the_dump) {
  SimProcess idle({"--timeout", "0.5", "--flash-size", "0x20000", "--dump", "{dir}/flash.bin"});
  Finished end = idle.Stop(0);
  EXPECT_EQ(end.exitCode, 0);
  EXPECT_NE(end.out.find("0 commands served, 0 bytes in, 0 bytes out (timed out)"),
            std::string::npos) << end.out;
  EXPECT_EQ(ReadFile(idle.Path("flash.bin")), Bytes(0x20000, 0xFF));

  SimProcess sim;
  sim.Send({0x13});  // stray byte: counted in, no command
  sim.SendCommand(kQuery);
  size_t out = sim.ReadFrameBytes().size();
  sim.SendCommand(Header(0x01, 1, 0x9D000000));
  out += sim.ReadFrameBytes().size();
  end = sim.Stop(SIGINT);
  EXPECT_EQ(end.exitCode, 0);
  std::string expected = "2 commands served, " + std::to_string(1 + 9 + 14) + " bytes in, " +
                         std::to_string(out) + " bytes out (stopped by signal)";
  EXPECT_NE(end.out.find(expected), std::string::npos) << end.out;
}

TEST(SimLifecycle, refuses_a_bad_command_line_with_status_2) {
  const std::vector<std::vector<std::string>> bad = {
      {"--fault", "sparkle@1"},       {"--fault", "late@0"},         {"--fault", "late@write:1"},
      {"--fault", "bad-data@query:1"}, {"--fault", "late"},           {"--version", "1"},
      {"--version", "1.256"},          {"--flash-size", "0"},         {"--flash-size", "0x20000000"},
      {"--device-id", "256"},          {"--final", "X"},              {"--baud", "0"},
      {"--baud", "fast"},              {"--timeout", "-1"},           {"--answer-after", "-1"},
      {"--burst-ms", "0"},             {"--bogus"},                   {"--trace"},
  };
  for (const auto& args : bad) {
    Finished run = RunSimToEnd(args);
    EXPECT_EQ(run.exitCode, 2) << args[0];
    EXPECT_TRUE(run.out.empty()) << args[0];
    EXPECT_EQ(run.err.rfind("melor-sim: ", 0), 0u) << run.err;
  }
}

TEST(SimLifecycle, help_documents_every_option_and_fault_kind) {
  Finished help = RunSimToEnd({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* word :
       {"--link", "--timeout", "--dump", "--trace", "--flash-size", "--version", "--device-id",
        "--final", "--answer-after", "--baud", "--fault", "--late-ms", "--gap-ms", "bad-checksum",
        "bad-echo", "bad-data", "no-reply", "dribble", "garbage", "stray-sync", "late",
        "hang-up", "cut-off", "--garbage-bytes", "--burst-ms", "Example"})
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
}
