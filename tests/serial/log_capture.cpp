// Log capture: the lines in the message log's ring since it was started afresh.
#include "log_capture.h"

#include "log/message_log.h"

LogCapture::LogCapture() {
  if (MessageLog.lock != nullptr) CloseHandle(MessageLog.lock);
  InitMessageLog();
}

std::vector<std::u16string> LogCapture::Lines() const {
  std::vector<std::u16string> lines;
  for (int i = 0; i < MessageLog.writeIndex; i++) {
    std::u16string text(MessageLog.ring[i], kLogLineWidth);
    lines.push_back(text.erase(text.find_last_not_of(u' ') + 1));
  }
  return lines;
}
