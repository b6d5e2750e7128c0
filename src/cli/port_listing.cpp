// Listing the usable COM ports with what the system tells about each.
#include "cli/port_listing.h"

#include <chrono>
#include <vector>

#include "cli/console_text.h"
#include "cli/json_view.h"
#include "cli/result.h"
#include "log/format.h"
#include "platform/port_description.h"
#include "platform/text.h"
#include "serial/port_list.h"

namespace {

constexpr char kNoPorts[] = "No available COM ports detected";

// The device the name stands for: on Linux the DOS-device link's target, on Windows the
// system's device name; empty when the system does not say.
std::string DeviceOf(const char16_t* name) {
  char16_t device[kPathCapacity] = {};
  if (QueryDosDeviceW(Win32Text(name), Win32Text(device), kPathCapacity) == 0) device[0] = u'\0';
  return Utf8Of(device);
}

void ShowPort(const Request& request, const char16_t* name) {
  std::string device = DeviceOf(name);
  char16_t description[256];
  DescribePort(name, Utf16Of(device).c_str(), description, 256);
  if (request.json) {
    PrintJson(Json{{"event", "port"},
                   {"name", Utf8Of(name)},
                   {"device", device},
                   {"description", Utf8Of(description)}});
  } else {
    PrintLine(false, Utf8Of(name) + "\t" + device + "\t" + Utf8Of(description));
  }
}

// Serial devices that no COM number fits (on Linux) are listed by their path; "probe all", which
// takes only COM names, passes them over.
std::vector<std::u16string> PathNamedPorts() {
  std::u16string names(portListSize, u'\0');
  DWORD count = QueryDosDeviceW(nullptr, Win32Text(names.data()), portListSize);
  std::vector<std::u16string> ports;
  for (size_t at = 0; at < count && names[at] != u'\0'; at = names.find(u'\0', at) + 1) {
    const char16_t* name = names.c_str() + at;
    if (name[0] == u'/' && TestPortOpen(name) == 0) ports.push_back(name);
  }
  return ports;
}

Json PortsResult(int status, double seconds) {
  return Json{{"event", "result"}, {"command", "ports"}, {"port", nullptr},
              {"ok", status == 0},  {"status", status == 0 ? "" : kNoPorts},
              {"exit", status},     {"seconds", seconds},
              {"device", nullptr},  {"image", nullptr}};
}

}  // namespace

int ListPorts(const Request& request) {
  auto start = std::chrono::steady_clock::now();
  PortList list = nullptr;
  BuildPortList(&list);
  for (PortNode* node = list; node != nullptr; node = node->next) ShowPort(request, node->name);
  std::vector<std::u16string> byPath = PathNamedPorts();
  for (const std::u16string& name : byPath) ShowPort(request, name.c_str());
  int status = list != nullptr || !byPath.empty() ? 0 : 1;
  FreePortList(&list);
  if (status != 0 && !request.json) PrintLine(false, kNoPorts);
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return Conclude(request, PortsResult(status, seconds));
}
