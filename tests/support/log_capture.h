// Log capture for the tests, on both platforms: the message log started afresh, and every line
// logged since, as the ring holds it.
#pragma once

#include <string>
#include <vector>

#include "log/message_log.h"

// The ring holds the last kLogLines lines, more than any one test logs.
struct LogCapture {
  LogCapture() {
    if (MessageLog.lock != nullptr) CloseHandle(MessageLog.lock);
    InitMessageLog();
  }

  // The lines logged so far, trailing spaces trimmed.
  std::vector<std::u16string> Lines() const {
    std::vector<std::u16string> lines;
    for (int i = 0; i < MessageLog.writeIndex; i++) {
      std::u16string text(MessageLog.ring[i], kLogLineWidth);
      lines.push_back(text.erase(text.find_last_not_of(u' ') + 1));
    }
    return lines;
  }
};
