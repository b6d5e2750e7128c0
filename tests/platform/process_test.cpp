// Child processes started and waited for from several threads at once. waitpid is wrapped
// (-Wl,--wrap=waitpid) to take a while, which widens the window between a child's end and the
// release of its slot: another thread must not get the slot while the first still closes its pipe.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/process.h"

extern "C" pid_t __real_waitpid(pid_t pid, int* status, int options);

extern "C" pid_t __wrap_waitpid(pid_t pid, int* status, int options) {
  std::this_thread::sleep_for(std::chrono::microseconds(pid * 7919 % 2000));
  return __real_waitpid(pid, status, options);
}

TEST(StartChild, a_slot_is_handed_out_again_only_after_its_child_is_wholly_given_back) {
  std::atomic<int> wrong{0};
  std::vector<std::thread> lanes;
  for (char16_t mark : {u'a', u'b', u'c', u'd'}) {
    lanes.emplace_back([&wrong, mark] {
      const char16_t word[] = {mark, u'\0'};
      const char16_t* arguments[] = {u"echo", word};
      for (int run = 0; run < 40; run++) {
        int child = StartChild(u"/bin/echo", arguments, 2);
        char output[8] = {};
        bool echoed = child >= 0 && ReadChildOutput(child, output, 8) == 2 && output[0] == mark;
        if (child < 0 || WaitForChild(child) != 0 || !echoed) wrong++;
      }
    });
  }
  for (std::thread& lane : lanes) lane.join();
  EXPECT_EQ(wrong, 0);
}
