// The progress bar: the text's percentage drawn as a row of 30 cells.
#include "cli/progress_bar.h"

#include "log/format.h"
#include "platform/terminal_width.h"

int PercentIn(const char16_t* text, size_t length) {
  for (size_t i = 0; i < length; i++) {
    int value = 0;
    size_t j = i;
    while (j < length && j - i < 3 && text[j] >= u'0' && text[j] <= u'9') {
      value = value * 10 + (text[j++] - u'0');
    }
    if (j > i && j < length && text[j] == u'%') return value;
  }
  return -1;
}

size_t FormatBar(const char16_t* text, size_t length, char16_t* bar) {
  int percent = PercentIn(text, length);
  if (percent < 0) return 0;
  size_t used = 0;
  int filled = (percent > 100 ? 100 : percent) * kBarWidth / 100;
  bar[used++] = u'[';
  for (int i = 0; i < kBarWidth; i++) bar[used++] = i < filled ? u'#' : u'.';
  return used + FormatBounded(bar + used, kBarCapacity - used, u"] %3d%%  ", percent);
}

size_t BarRowColumns() {
  int columns = ErrorColumns();
  return columns > 1 ? static_cast<size_t>(columns - 1) : 79;
}

size_t UnitsWithin(const char16_t* text, size_t length, size_t columns) {
  size_t units = 0;
  for (size_t used = 0; units < length && used < columns; used++) {
    bool pair = text[units] >= 0xD800 && text[units] <= 0xDBFF && units + 1 < length;
    units += pair ? 2 : 1;
  }
  return units;
}
