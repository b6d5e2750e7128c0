// What the system tells about a serial device, for listing the COM ports: on Linux the USB
// adapter behind the device (vendor:product id, manufacturer, product, serial number from sysfs),
// on Windows the port's friendly name.
#pragma once

#include <cstddef>

// device: what QueryDosDeviceW gives for the port name. Leaves description empty when the
// system tells nothing (a built-in or virtual port).
void DescribePort(const char16_t* name, const char16_t* device, char16_t* description,
                  size_t capacity);
