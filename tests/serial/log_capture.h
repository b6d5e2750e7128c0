// Log capture for the serial tests, on both platforms: every line logged, as the ring holds it.
#pragma once

#include <string>
#include <vector>

// Starts the log afresh; the lines logged since can be read back. The ring holds the last
// kLogLines lines, more than any one test logs.
struct LogCapture {
  LogCapture();

  // The lines logged so far, trailing spaces trimmed.
  std::vector<std::u16string> Lines() const;
};
