// The POSIX threads, mutex and per-thread error of the Win32 subset.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/win32.h"

namespace {

std::atomic<bool> release{false};

DWORD WINAPI EndsWhenReleased(LPVOID) {
  while (!release) std::this_thread::yield();
  return 0;
}

// The thread ends after its handle is gone; ASan would see a use after free. (Waiting for a
// thread's end and ExitThread's exit code are proven by every programming run and by the runs
// closed midway, tests/bootloader/abort_test.cpp.)
TEST(CreateThread, a_running_thread_outlives_its_closed_handle) {
  HANDLE orphan = CreateThread(nullptr, 0, EndsWhenReleased, nullptr, 0, nullptr);
  EXPECT_EQ(WaitForSingleObject(orphan, 20), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(orphan));
  release = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // its end
}

// The log's lock: its owner may take it again; another thread waits, and cannot release it.
// Each thread keeps its own last error.
TEST(CreateMutexW, is_recursive_for_its_owner_and_exclusive_against_others_with_their_own_error) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
  ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
  ASSERT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  SetLastError(ERROR_ACCESS_DENIED);
  // Another thread's error at its start, its wait, whether it may release, and its error then.
  auto fromOtherThread = [&](DWORD waitMs) {
    std::vector<DWORD> seen;
    std::thread([&] {
      seen = {GetLastError(), WaitForSingleObject(mutex, waitMs),
              static_cast<DWORD>(ReleaseMutex(mutex))};
      seen.push_back(GetLastError());
    }).join();
    return seen;
  };
  using Seen = std::vector<DWORD>;
  EXPECT_EQ(fromOtherThread(30), (Seen{ERROR_SUCCESS, WAIT_TIMEOUT, FALSE, ERROR_NOT_OWNER}));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(ReleaseMutex(mutex) && ReleaseMutex(mutex));
  EXPECT_EQ(fromOtherThread(0), (Seen{ERROR_SUCCESS, WAIT_OBJECT_0, TRUE, ERROR_SUCCESS}));
  EXPECT_TRUE(CloseHandle(mutex));
}

}  // namespace
