// melor-sim's board that must be reset: what the control input's line changes, removals and
// insertions do to it, as its trace tells (the real-driver rig runs pentrel-cli against it).
#include <chrono>
#include <fstream>
#include <regex>
#include <thread>

#include "run_fixture.h"

namespace {

using Lines = std::vector<std::string>;

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
      if (std::regex_search(line, match, board)) states.push_back(match.str(1) + " " + match.str(2));
  }
  return states;
}

TEST_F(RunTest, line_changes_reset_the_board_as_it_is_wired_and_boards_come_and_go) {
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
  for (Case& c : cases) {
    c.options.insert(c.options.end(), {"--control", folder_ + "/control"});
    SimDevice& device = StartSim("COM1", c.options);
    std::ofstream control(folder_ + "/control");
    for (const std::string& line : c.control) control << line << "\n";
    control.close();
    EXPECT_EQ(BoardStates(device, c.states.size()), c.states) << c.options[1] << " " << c.control[0];
    StopSim(device);
  }
}

}  // namespace
