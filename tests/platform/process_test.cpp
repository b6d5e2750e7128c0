// Child processes started and waited for from several threads at once. waitpid is wrapped
// (-Wl,--wrap=waitpid) to take a while, which widens the window between a child's end and the
// release of its slot: another thread must not get the slot while the first still closes its pipe.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"

extern "C" pid_t __real_waitpid(pid_t pid, int* status, int options);

extern "C" pid_t __wrap_waitpid(pid_t pid, int* status, int options) {
  thread_local std::minstd_rand delays(static_cast<unsigned>(pid));
  std::this_thread::sleep_for(std::chrono::microseconds(delays() % 2000));
  return __real_waitpid(pid, status, options);
}

namespace {

// Runs echo with the word again and again; the number of runs that did not hand back the word
// and a clean ending.
int EchoRuns(const std::u16string& word) {
  int wrong = 0;
  const char16_t* arguments[] = {u"echo", word.c_str()};
  for (int run = 0; run < 40; run++) {
    int child = StartChild(u"/bin/echo", arguments, 2);
    std::string output;
    char buffer[64];
    for (int count; child >= 0 && (count = ReadChildOutput(child, buffer, sizeof buffer)) > 0;) {
      output.append(buffer, static_cast<size_t>(count));
    }
    bool clean = child >= 0 && WaitForChild(child) == 0;
    if (!clean || output != std::string(word.begin(), word.end()) + "\n") wrong++;
  }
  return wrong;
}

TEST(StartChild, a_slot_is_handed_out_again_only_after_its_child_is_wholly_given_back) {
  std::vector<int> wrong(4);
  std::vector<std::thread> lanes;
  for (size_t i = 0; i < wrong.size(); i++) {
    lanes.emplace_back([&wrong, i] { wrong[i] = EchoRuns(u"lane" + std::u16string(1, u'0' + i)); });
  }
  for (std::thread& lane : lanes) lane.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

}  // namespace
