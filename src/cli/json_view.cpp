// The JSON view of the message log.
#include "cli/json_view.h"

#include "cli/console_text.h"
#include "cli/log_lines.h"
#include "cli/progress_bar.h"
#include "log/message_log.h"

namespace {

std::string Utf8Of(const char16_t* text, size_t length) {
  return ::Utf8Of(std::u16string(text, length).c_str());
}

void PrintLogEvent(const char16_t* line, size_t length) {
  PrintJson(Json{{"event", "log"}, {"text", Utf8Of(line, length)}});
}

// An empty text clears the progress line; readers that draw it need to know.
void PrintProgressEvent() {
  size_t length = TrimmedLength(MessageLog.progressLine, kLogLineWidth);
  int percent = PercentIn(MessageLog.progressLine, length);
  PrintJson(Json{{"event", "progress"},
                 {"text", Utf8Of(MessageLog.progressLine, length)},
                 {"percent", percent >= 0 ? Json(percent) : Json(nullptr)}});
}

}  // namespace

std::string JsonLine(const Json& object) {
  return object.dump(-1, ' ', false, nlohmann::detail::error_handler_t::replace);
}

void PrintJson(const Json& object) { PrintLine(false, JsonLine(object)); }

LRESULT CALLBACK JsonViewProc(HWND, UINT message, WPARAM, LPARAM) {
  if (message == WM_LOG_LINES) ForEachPendingLine(PrintLogEvent);
  if (message == WM_PROGRESS_LINE) PrintProgressEvent();
  return 0;
}
