// Log capture for the serial tests, on both platforms: every line logged, as the view gets it.
#pragma once

#include <string>
#include <vector>

// Records every line logged while it lives, through a view window as the real log window gets them.
struct LogCapture {
  LogCapture();
  ~LogCapture();

  // The lines logged so far, trailing spaces trimmed.
  std::vector<std::u16string> Lines() const;
};
