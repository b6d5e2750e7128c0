// The message log: fixed-width lines, the ring's wrap-around, notification of the view, and the
// lock that keeps a repaint from seeing half-written lines.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "log/message_log.h"
#include "log_capture.h"
#include "platform/view_window.h"

namespace {

std::u16string Slot(int index) {
  return std::u16string(MessageLog.ring[index], kLogLineWidth);
}

std::u16string Padded(const std::u16string& text) {
  return text + std::u16string(kLogLineWidth - text.size(), u' ');
}

class MessageLogTest : public ::testing::Test {
 protected:
  void SetUp() override { LogWindow = nullptr; }
  LogCapture fresh;  // each test starts with an empty log
};

TEST_F(MessageLogTest, pads_every_line_to_64_characters_and_bounds_progress_and_last_status) {
  std::u16string text62(62, u'a'), text63(63, u'b'), text64(64, u'c'), text80(80, u's');
  LogMessage(u"Checksum error, line %d", 7);
  for (const std::u16string& text : {std::u16string(), text62, text63, text64}) {
    LogMessage(u"%s", text.c_str());
  }
  const std::u16string shown[] = {u"Checksum error, line 7", u"", text62, text63,
                                  text64.substr(0, 63)};
  for (int slot = 0; slot < 5; slot++) EXPECT_EQ(Slot(slot), Padded(shown[slot])) << slot;
  ShowProgress(u"%s", text80.c_str());
  EXPECT_EQ(std::u16string(MessageLog.progressLine, kLogLineWidth), text80.substr(0, 63) + u" ");
  ShowProgress(u"Verifying firmware image: %d%%  ", 78);
  EXPECT_EQ(std::u16string(MessageLog.progressLine, kLogLineWidth),
            Padded(u"Verifying firmware image: 78%  "));
  SetLastStatus(u"%s", text80.c_str());
  EXPECT_EQ(std::u16string(MessageLog.lastStatus), text80.substr(0, 79));
  SetLastStatus(u"");
  EXPECT_EQ(MessageLog.lastStatus[0], u'\0');
}

TEST_F(MessageLogTest, the_fifteenth_line_wraps_into_slot_zero) {
  const std::u16string letters = u"abcdefghijklmno";  // fifteen lines, one letter each
  for (char16_t letter : letters) LogMessage(u"%s", std::u16string(1, letter).c_str());
  EXPECT_EQ(MessageLog.writeIndex, 1);
  // Read from the write index on, as a repaint does, the window holds lines 2 to 15.
  for (int r = 0; r < kLogLines; r++) {
    EXPECT_EQ(Slot((MessageLog.writeIndex + r) % kLogLines), Padded(letters.substr(r + 1, 1))) << r;
  }
}

// The view as the window would be: records what it was sent, and checks from another thread
// that the log's lock is free while the message is handled.
std::vector<UINT> received;
bool lockWasFree = true;

LRESULT CALLBACK RecordingView(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
  EXPECT_EQ(wParam, 0u);
  EXPECT_EQ(lParam, 1);
  received.push_back(message);
  std::thread probe([] {
    if (WaitForSingleObject(MessageLog.lock, 0) == WAIT_OBJECT_0) {
      ReleaseMutex(MessageLog.lock);
    } else {
      lockWasFree = false;
    }
  });
  probe.join();
  if (message == WM_LOG_LINES) MessageLog.displayIndex = MessageLog.writeIndex;
  return 0;
}

TEST_F(MessageLogTest, notifies_the_view_once_per_change_without_holding_the_lock) {
  LogWindow = CreateViewWindow(RecordingView);
  received.clear();
  LogMessage(u"one");
  ShowProgress(u"50%%");
  SetLastStatus(u"Last Status: nobody is told");
  LogMessage(u"two");
  DestroyViewWindow(LogWindow);
  LogWindow = nullptr;
  EXPECT_EQ(received, (std::vector<UINT>{WM_LOG_LINES, WM_PROGRESS_LINE, WM_LOG_LINES}));
  EXPECT_TRUE(lockWasFree);
  EXPECT_EQ(MessageLog.displayIndex, 2);
}

TEST_F(MessageLogTest, a_repaint_under_the_lock_never_sees_a_half_written_line) {
  std::atomic<bool> done{false};
  std::u16string torn;
  std::thread painter([&] {
    while (!done) {
      WaitForSingleObject(MessageLog.lock, INFINITE);
      for (int r = 0; r < kLogLines && torn.empty(); r++) {
        std::u16string row = Slot(r);
        // Every line logged below is one repeated letter, padded; anything else is torn.
        if (row.find_first_not_of(row[0]) < row.find(u' ') && row[0] != u' ') torn = row;
      }
      ReleaseMutex(MessageLog.lock);
    }
  });
  std::u16string letters[2] = {std::u16string(60, u'x'), std::u16string(40, u'y')};
  for (int i = 0; i < 20000; i++) LogMessage(u"%s", letters[i % 2].c_str());
  done = true;
  painter.join();
  EXPECT_EQ(torn, u"");
}

}  // namespace
