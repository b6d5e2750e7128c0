// Times LoadHexFile on a HEX file covering the whole image (16-byte records) beside objcopy and
// srec_cat converting the same file to binary, checks that all three agree, and counts the heap
// allocations of one load. Also times pentrel-cli as a whole process loading the file and failing
// on a port that does not exist (start-up, load, digest when --json asks for it, exit).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "allocation_count.h"
#include "image/firmware_image.h"
#include "log/message_log.h"
#include "platform/file_open.h"
#include "platform/text.h"
#include "settings/settings.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 15;

void AppendRecord(std::string& out, uint8_t type, uint16_t address, const uint8_t* data,
                  size_t count) {
  char digits[3];
  uint8_t sum = static_cast<uint8_t>(count + (address >> 8) + address + type);
  auto put = [&](uint8_t value) {
    std::snprintf(digits, sizeof digits, "%02X", value);
    out += digits;
  };
  out += ':';
  put(static_cast<uint8_t>(count));
  put(static_cast<uint8_t>(address >> 8));
  put(static_cast<uint8_t>(address));
  put(type);
  for (size_t i = 0; i < count; i++) {
    put(data[i]);
    sum = static_cast<uint8_t>(sum + data[i]);
  }
  put(static_cast<uint8_t>(-sum));
  out += "\r\n";
}

// The whole image in 16-byte records, an upper-address record at each 64 KiB.
std::string WholeImageHex(std::vector<uint8_t>& image) {
  std::mt19937 random(1);
  image.resize(kImageSize);
  for (uint8_t& byte : image) byte = static_cast<uint8_t>(random());
  std::string out;
  for (uint32_t offset = 0; offset < kImageSize; offset += 16) {
    uint32_t address = kImageBase + offset;
    if ((address & 0xFFFF) == 0) {
      uint8_t upper[2] = {static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16)};
      AppendRecord(out, 0x04, 0, upper, 2);
    }
    AppendRecord(out, 0x00, static_cast<uint16_t>(address), &image[offset], 16);
  }
  AppendRecord(out, 0x01, 0, nullptr, 0);
  return out;
}

// The fastest of kRuns runs, in milliseconds.
template <typename F>
double FastestMs(F run) {
  double best = 1e30;
  for (int i = 0; i < kRuns; i++) {
    Clock::time_point start = Clock::now();
    if (!run()) return -1;
    best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  return best;
}

// Runs the tool with its output dropped; true when it ended with the status expected. cpuMs, when
// given, receives the CPU time it used (user and system), which a busy machine changes far less
// than the time on the clock.
bool RunTool(std::vector<std::string> arguments, int expected = 0, double* cpuMs = nullptr) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  pid_t child;
  int spawned = posix_spawnp(&child, argv[0], &quiet, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&quiet);
  if (spawned != 0) return false;
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  if (cpuMs != nullptr) {
    *cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
             (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == expected;
}

// The least CPU time of kRuns runs of the tool, in milliseconds; -1 when a run ended otherwise.
double LeastCpuMs(const std::vector<std::string>& arguments, int expected) {
  double best = 1e30;
  for (int i = 0; i < kRuns; i++) {
    double ms = 0;
    if (!RunTool(arguments, expected, &ms)) return -1;
    best = std::min(best, ms);
  }
  return best;
}

// CPU time of pentrel-cli loading the file and then finding no port COM99 in an empty DOS-device
// folder.
double WholeProcessCpuMs(const std::filesystem::path& hex, const char* option) {
  std::vector<std::string> arguments = {PENTREL_CLI_PATH, hex.string(), "COM99"};
  if (option != nullptr) arguments.push_back(option);
  return LeastCpuMs(arguments, 1);
}

bool SameAsImage(const std::filesystem::path& binary, const std::vector<uint8_t>& image) {
  std::ifstream in(binary, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  return bytes == image;
}

void Report(const char* name, double ms, double loaderMs, bool agrees) {
  if (ms < 0) {
    std::printf("%-28s failed to run\n", name);
    return;
  }
  std::printf("%-28s %8.2f ms   %6.1fx the loader's time%s\n", name, ms, ms / loaderMs,
              agrees ? "" : "   (OUTPUT DIFFERS)");
}

}  // namespace

int main() {
  InitMessageLog();
  std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                 ("pentrel-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder / "dosdevices");
  setenv("PENTREL_DOSDEVICES", (folder / "dosdevices").c_str(), 1);
  std::filesystem::path hex = folder / "whole.hex", binary = folder / "whole.bin";
  std::vector<uint8_t> image;
  std::ofstream(hex, std::ios::binary) << WholeImageHex(image);
  TextCopy(HexFileName, kPathCapacity, hex.u16string().c_str());

  double loaderMs = FastestMs([] { return LoadHexFile() == 0; });
  bool loaderAgrees = std::equal(image.begin(), image.end(), FirmwareImage.bytes) &&
                      FirmwareImage.highestEnd == kImageBase + kImageSize;
  double objcopyMs = FastestMs([&] {
    return RunTool({"objcopy", "-I", "ihex", "-O", "binary", hex.string(), binary.string()});
  });
  bool objcopyAgrees = SameAsImage(binary, image);
  double srecMs = FastestMs([&] {
    return RunTool({"srec_cat", hex.string(), "-intel", "-o", binary.string(), "-binary"});
  });
  // srec_cat writes from address 0 unless told otherwise: compare the image's part.
  std::ifstream srecOut(binary, std::ios::binary);
  srecOut.seekg(kImageBase);
  std::vector<uint8_t> srecBytes((std::istreambuf_iterator<char>(srecOut)), {});
  bool srecAgrees = srecBytes == image;
  double objcopyCpuMs =
      LeastCpuMs({"objcopy", "-I", "ihex", "-O", "binary", hex.string(), binary.string()}, 0);
  double cliMs = WholeProcessCpuMs(hex, nullptr);
  double cliJsonMs = WholeProcessCpuMs(hex, "--json");

  StartCountingAllocations();
  LoadHexFile();
  size_t loadAllocations = StopCountingAllocations();
  StartCountingAllocations();
  fclose(OpenFileForReading(HexFileName));
  size_t openAllocations = StopCountingAllocations();

  std::printf("HEX file: %ju bytes, 16-byte records over 0x%X bytes; fastest of %d runs\n",
              static_cast<uintmax_t>(std::filesystem::file_size(hex)), kImageSize, kRuns);
  Report("LoadHexFile", loaderMs, loaderMs, loaderAgrees);
  Report("objcopy -I ihex -O binary", objcopyMs, loaderMs, objcopyAgrees);
  Report("srec_cat -intel -o -binary", srecMs, loaderMs, srecAgrees);
  std::printf("whole processes, CPU time:\n");
  for (auto [name, ms] : {std::pair{"objcopy", objcopyCpuMs},
                          std::pair{"pentrel-cli, file then no port", cliMs},
                          std::pair{"the same with --json", cliJsonMs}}) {
    std::printf("  %-32s %8.2f ms   %6.2fx objcopy's\n", name, ms, ms / objcopyCpuMs);
  }
  std::printf("allocations in one LoadHexFile: %zu, of which opening and closing the file: %zu;"
              " the loader's own: %zd\n",
              loadAllocations, openAllocations,
              static_cast<ssize_t>(loadAllocations) - static_cast<ssize_t>(openAllocations));
  std::filesystem::remove_all(folder);
  bool ok = loaderAgrees && loadAllocations == openAllocations && objcopyMs > 0 &&
            loaderMs < objcopyMs && cliMs > 0 && cliMs < 0.5 * objcopyCpuMs;
  std::printf("%s\n", ok ? "target met: faster than objcopy, nothing allocated by the loader, "
                           "pentrel-cli as a whole under half objcopy's time"
                         : "TARGET MISSED");
  return ok ? 0 : 1;
}
