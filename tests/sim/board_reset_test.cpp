// melor-sim's board that must be reset: what the control input's line changes, removals and
// insertions do to it, as its trace tells, and that its bootloader answers only after a reset.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <thread>

#include "run_fixture.h"

namespace {

using Lines = std::vector<std::string>;

class BoardResetTest : public RunTest {
 protected:
  SimDevice& StartBoard(Lines options) {
    options.insert(options.end(), {"--control", folder_ + "/control"});
    return StartSim("COM1", options);
  }

  void Tell(const Lines& lines) {
    int fd = open((folder_ + "/control").c_str(), O_WRONLY);
    for (const std::string& line : lines) ASSERT_EQ(write(fd, (line + "\n").data(), line.size() + 1),
                                                   static_cast<ssize_t>(line.size() + 1));
    close(fd);
  }

  // "STATE REASON" of every board line in the trace, once there are `count` of them (or after 5 s).
  Lines BoardStates(const SimDevice& device, size_t count) {
    const std::regex board("^board n=\\d+ state=(\\w+) reason=([\\w-]+)");
    Lines states;
    for (int look = 0; look < 100 && states.size() < count; look++) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      states.clear();
      std::ifstream trace(device.tracePath);
      std::smatch match;
      for (std::string line; std::getline(trace, line);)
        if (std::regex_search(line, match, board)) states.push_back(match[1].str() + " " + match[2].str());
    }
    return states;
  }
};

TEST_F(BoardResetTest, line_changes_reset_the_board_as_it_is_wired) {
  struct Case {
    Lines options, control, states;
  } cases[] = {
      // Through a capacitor, asserting gives the pulse: releasing and the other line do nothing.
      {{"--needs-reset", "dtr"},
       {"dtr 1", "dtr 0", "rts 1", "dtr 1"},
       {"application start", "bootloader reset", "bootloader reset"}},
      // Held: the asserted line holds the board, releasing it starts the bootloader.
      {{"--needs-reset", "rts", "--reset-wiring", "held"},
       {"rts 1", "rts 0"},
       {"application start", "held reset", "bootloader reset"}},
      {{"--needs-reset", "dtr", "--miss-resets", "1"},
       {"dtr 1", "dtr 0", "dtr 1"},
       {"application start", "application missed-reset", "bootloader reset"}},
      // A board put in while the line is asserted is held from the start.
      {{"--needs-reset", "rts", "--reset-wiring", "held"},
       {"rts 1", "remove", "insert", "rts 0"},
       {"application start", "held reset", "absent removed", "held inserted", "bootloader reset"}},
      {{"--needs-reset", "dtr", "--bootloader-window", "0.2"},
       {"dtr 1"},
       {"application start", "bootloader reset", "application window"}},
  };
  for (const Case& c : cases) {
    SimDevice& device = StartBoard(c.options);
    Tell(c.control);
    EXPECT_EQ(BoardStates(device, c.states.size()), c.states) << c.options[1] << " " << c.control[0];
    StopSim(device);
  }
}

// Programmed once reset, the board leaves its flash in FILE.1 when taken out; the next is blank.
TEST_F(BoardResetTest, a_reset_board_is_programmed_and_a_removed_board_keeps_its_flash) {
  SimDevice& device = StartBoard({"--needs-reset", "dtr"});
  Tell({"dtr 1"});
  BoardStates(device, 2);
  Bytes image = PseudoRandomBytes(1024, 21);
  CliResult run = Cli({WriteFile("image.hex", HexFileFor(image)), "COM1"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out.at(0), "Found MELOR device on COM1");
  Tell({"remove", "insert"});
  EXPECT_EQ(BoardStates(device, 5).back(), "application inserted");
  Bytes removed = FileBytes(device.dumpPath + ".1");
  EXPECT_TRUE(std::equal(image.begin(), image.end(), removed.begin()));
  EXPECT_EQ(StopSim(device), Bytes(0x80000, 0xFF));
}

}  // namespace
