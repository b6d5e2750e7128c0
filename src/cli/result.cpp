// Building the result object from the finished command, and appending it to a record file.
#include "cli/result.h"

#include <cmath>
#include <ctime>

#include "bootloader/detection.h"
#include "bootloader/run_steps.h"
#include "cli/console_text.h"
#include "cli/flash_file.h"
#include "cli/image_check.h"
#include "log/message_log.h"
#include "platform/output_files.h"

namespace {

Json DeviceObject() {
  if (!DetectedDevice.found) return nullptr;
  const QueryReply& reply = DetectedDevice.reply;
  return Json{{"version", std::to_string(reply.major) + "." + std::to_string(reply.minor)},
              {"id", reply.deviceId},
              {"flash_size", reply.flashSize}};
}

Json ImageObject(Command command) {
  if (command == Command::Read) {
    if (FlashFileBytes() == 0) return nullptr;
    return Json{{"bytes", FlashFileBytes()}, {"sha256", FlashFileDigest()}};
  }
  uint32_t length = LoadedImageLength();
  if (length == 0) return nullptr;
  return Json{{"bytes", length}, {"sha256", LoadedImageDigest()}};
}

Json PortOf(const Request& request) {
  if (DetectedDevice.found) return Utf8Of(DetectedDevice.port);
  return request.ports.empty() ? "probe all" : request.ports[0];
}

std::string UtcNow() {
  std::time_t now = std::time(nullptr);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  return text;
}

}  // namespace

Json ResultObject(const Request& request, int exitStatus, double seconds) {
  return Json{{"event", "result"},
              {"command", CommandName(request.command)},
              {"port", PortOf(request)},
              {"ok", exitStatus == 0},
              {"status", Utf8Of(MessageLog.lastStatus)},
              {"exit", exitStatus},
              {"seconds", std::round(seconds * 1000) / 1000},
              {"device", DeviceObject()},
              {"image", ImageObject(request.command)}};
}

// Appends the result with "time" (UTC, ISO 8601) and "host" as one line to the file at path;
// false, with the reason on stderr, when it could not be written.
bool AppendRecord(const std::string& path, Json result) {
  char host[256];
  HostName(host, sizeof host);
  result["time"] = UtcNow();
  result["host"] = host;
  std::string line = JsonLine(result) + "\n";
  if (AppendToFile(Utf16Of(path).c_str(), line.data(), line.size())) return true;
  PrintLine(true, "pentrel-cli: cannot append the result to the record file " + path);
  return false;
}

bool WaitedForBoard(const Json& result) {
  if (!result.is_object()) return false;
  auto device = result.find("device");
  if (device != result.end() && device->is_object()) return false;
  std::string status = result.value("status", "");
  return status == "Last Status: MELOR not found" ||
         status == "Last Status: Unable to open COM port.";
}

int Conclude(const Request& request, Json result) {
  int status = result["exit"];
  bool recorded = !request.record.empty() && !(request.stationRun && WaitedForBoard(result));
  if (recorded && !AppendRecord(request.record, result) && status == 0) {
    status = 1;
    result["exit"] = status;
    result["ok"] = false;
  }
  if (request.json) PrintJson(result);
  return status;
}
