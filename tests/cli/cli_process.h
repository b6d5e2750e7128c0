// pentrel-cli started as its own process with the test's arguments; stdout and stderr are kept.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct CliResult {
  int exitStatus = -1;  // 128 + the signal's number when a signal ended it
  std::vector<std::string> out;
  std::vector<std::string> err;
};

class CliProcess {
 public:
  // Starts pentrel-cli with the arguments; its output goes to files in folder.
  CliProcess(const std::string& folder, const std::vector<std::string>& arguments);
  void Signal(int signal);
  CliResult Wait();
  // Waits until stdout holds the text (at most a minute); false if it never did.
  bool AwaitOutput(const std::string& text);

 private:
  pid_t pid_ = -1;
  std::string outPath_, errPath_;
};

// Starts pentrel-cli and waits for its end.
CliResult RunCliProcess(const std::string& folder, const std::vector<std::string>& arguments);
