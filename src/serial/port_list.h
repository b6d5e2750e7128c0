// The COM ports that can be used right now: every MS-DOS device whose name begins with "COM"
// and that opens for exclusive use, in the order the system lists them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

struct PortNode {
  char16_t* name;              // owned by the node
  HANDLE handle;               // set by the list's user; INVALID_HANDLE_VALUE when not open
  DCB savedState;              // filled by OpenPort for the list's user
  COMMTIMEOUTS savedTimeouts;  // filled by OpenPort for the list's user
  PortNode* next;
};

typedef PortNode* PortList;

// Characters of the buffer that receives the system's device list; starts at 8192 and doubles
// whenever the system answers that it is too small.
extern uint32_t portListSize;

// Every allocation of the list (the device-list buffer, nodes, names) goes through this pointer,
// released with free(). It is malloc; tests point it elsewhere to reach the out-of-memory paths.
extern void* (*portListAllocate)(size_t bytes);

// Frees what the list held, then fills it with the usable ports.
void BuildPortList(PortList* list);

// 0 if the port opened (and was closed again at once), 1 if it did not.
int TestPortOpen(const char16_t* name);

// Frees every node and its name, leaving the list empty. Closes no handle.
void FreePortList(PortList* list);
