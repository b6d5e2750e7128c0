// The POSIX threads, mutex and per-thread error of the Win32 subset.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/win32.h"

namespace {

std::atomic<bool> release{false};

DWORD WINAPI ReturnsItsParameterWhenReleased(LPVOID parameter) {
  while (!release) std::this_thread::yield();
  return static_cast<DWORD>(reinterpret_cast<uintptr_t>(parameter));
}

DWORD WINAPI EndsWithExitThread(LPVOID) { ExitThread(static_cast<DWORD>(-1)); }

TEST(CreateThread, reports_the_exit_code_of_a_return_or_of_ExitThread_and_outlives_its_handle) {
  release = false;
  HANDLE returning = CreateThread(nullptr, 0, ReturnsItsParameterWhenReleased,
                                  reinterpret_cast<LPVOID>(42), 0, nullptr);
  HANDLE exiting = CreateThread(nullptr, 0, EndsWithExitThread, nullptr, 0, nullptr);
  HANDLE orphan = CreateThread(nullptr, 0, ReturnsItsParameterWhenReleased, nullptr, 0, nullptr);
  ASSERT_TRUE(returning != nullptr && exiting != nullptr && orphan != nullptr);
  EXPECT_EQ(WaitForSingleObject(returning, 20), WAIT_TIMEOUT);
  // The orphan ends after its handle is gone; ASan would see a use after free.
  EXPECT_TRUE(CloseHandle(orphan));
  release = true;
  EXPECT_EQ(WaitForSingleObject(returning, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(exiting, 10000), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(returning, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_TRUE(GetExitCodeThread(exiting, &code));
  EXPECT_EQ(code, 0xFFFFFFFFu);
  EXPECT_TRUE(CloseHandle(returning) && CloseHandle(exiting));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST(CreateMutexW, is_recursive_for_its_owner_and_exclusive_against_others) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
  ASSERT_NE(mutex, nullptr);
  ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
  ASSERT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  DWORD otherResult = WAIT_FAILED, strangerError = 0;
  BOOL releasedByStranger = TRUE;
  std::thread([&] {
    otherResult = WaitForSingleObject(mutex, 30);
    releasedByStranger = ReleaseMutex(mutex);
    strangerError = GetLastError();
  }).join();
  EXPECT_EQ(otherResult, WAIT_TIMEOUT);
  EXPECT_FALSE(releasedByStranger);
  EXPECT_EQ(strangerError, ERROR_NOT_OWNER);
  EXPECT_TRUE(ReleaseMutex(mutex) && ReleaseMutex(mutex));
  std::thread([&] {
    otherResult = WaitForSingleObject(mutex, 0);
    ReleaseMutex(mutex);
  }).join();
  EXPECT_EQ(otherResult, WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(mutex));
}

TEST(GetLastError, is_kept_per_thread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seenByOther = 1;
  std::thread([&] {
    seenByOther = GetLastError();
    SetLastError(ERROR_FILE_NOT_FOUND);
  }).join();
  EXPECT_EQ(seenByOther, ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
