// Port descriptions on Windows: the friendly name of the Ports-class device whose PortName is
// the COM name.
#include "../port_description.h"

#include "../text.h"  // brings <windows.h>, which SetupAPI needs first

#include <initguid.h>

#include <devguid.h>
#include <setupapi.h>

namespace {

bool PortNameIs(HDEVINFO devices, SP_DEVINFO_DATA* device, const char16_t* name) {
  HKEY key = SetupDiOpenDevRegKey(devices, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE) return false;
  char16_t portName[64] = {};
  DWORD size = sizeof portName - sizeof(char16_t);
  LONG status = RegQueryValueExW(key, L"PortName", nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(portName), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && lstrcmpiW(Win32Text(portName), Win32Text(name)) == 0;
}

}  // namespace

void DescribePort(const char16_t* name, const char16_t*, char16_t* description,
                  size_t capacity) {
  if (capacity == 0) return;
  description[0] = u'\0';
  HDEVINFO devices = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); i++) {
    if (!PortNameIs(devices, &device, name)) continue;
    DWORD bytes = static_cast<DWORD>((capacity - 1) * sizeof(char16_t));
    if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                           reinterpret_cast<BYTE*>(description), bytes, nullptr)) {
      description[0] = u'\0';
    }
    description[capacity - 1] = u'\0';
    break;
  }
  SetupDiDestroyDeviceInfoList(devices);
}
