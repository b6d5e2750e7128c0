// pentrel-cli as a child process of the test.
#include "cli_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

std::vector<std::string> LinesOf(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

std::atomic<int> started{0};

}  // namespace

CliProcess::CliProcess(const std::string& folder, const std::vector<std::string>& arguments) {
  std::string name = folder + "/cli" + std::to_string(started++);
  outPath_ = name + ".out";
  errPath_ = name + ".err";
  pid_ = fork();
  if (pid_ != 0) return;
  dup2(open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
  dup2(open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
  std::vector<char*> argv = {const_cast<char*>(PENTREL_CLI_PATH)};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  execv(PENTREL_CLI_PATH, argv.data());
  _exit(127);
}

void CliProcess::Signal(int signal) { kill(pid_, signal); }

CliResult CliProcess::Wait() {
  int status = 0;
  waitpid(pid_, &status, 0);
  CliResult result;
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = LinesOf(outPath_);
  result.err = LinesOf(errPath_);
  return result;
}

bool CliProcess::AwaitOutput(const std::string& text) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream out(outPath_);
    std::stringstream contents;
    contents << out.rdbuf();
    if (contents.str().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

CliResult RunCliProcess(const std::string& folder, const std::vector<std::string>& arguments) {
  return CliProcess(folder, arguments).Wait();
}
