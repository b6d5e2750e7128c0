// Taking the message log's new lines for a console view.
#include "cli/log_lines.h"

#include "log/message_log.h"
#include "platform/text.h"

size_t TrimmedLength(const char16_t* line, size_t width) {
  while (width > 0 && line[width - 1] == u' ') width--;
  return width;
}

void ForEachPendingLine(void (*each)(const char16_t* line, size_t length)) {
  WaitForSingleObject(MessageLog.lock, INFINITE);
  while (MessageLog.displayIndex != MessageLog.writeIndex) {
    const char16_t* line = WholeLogLines[MessageLog.displayIndex];
    size_t length = TrimmedLength(line, TextLength(line));
    if (length > 0) each(line, length);
    MessageLog.displayIndex = (MessageLog.displayIndex + 1) % kLogLines;
  }
  ReleaseMutex(MessageLog.lock);
}
