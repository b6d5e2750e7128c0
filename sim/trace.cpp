// The trace file.
#include "trace.h"

#include <chrono>

namespace {

const auto kStart = std::chrono::steady_clock::now();

std::string HexOf(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*x", digits, value);
  return text;
}

}  // namespace

bool OpenTrace(Trace& trace, const std::string& path) {
  trace.file = std::fopen(path.c_str(), "w");
  return trace.file != nullptr;
}

void TraceLine(Trace& trace, const std::string& fields) {
  if (!trace.file) return;
  std::chrono::duration<double, std::milli> since = std::chrono::steady_clock::now() - kStart;
  std::fprintf(trace.file, "%s at=%.3f\n", fields.c_str(), since.count());
  std::fflush(trace.file);
}

void CloseTrace(Trace& trace) {
  if (trace.file) std::fclose(trace.file);
  trace.file = nullptr;
}

std::string Hex8(unsigned value) { return HexOf(value, 2); }
std::string Hex32(unsigned value) { return HexOf(value, 8); }
