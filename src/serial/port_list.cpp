// Port discovery: the system's MS-DOS device names, kept when they begin with "COM" and the port
// opens for exclusive use right now, in the system's order.
#include "serial/port_list.h"

#include <cstdlib>

#include "log/message_log.h"
#include "platform/text.h"
#include "serial/port.h"

uint32_t portListSize = 0x2000;
void* (*portListAllocate)(size_t bytes) = std::malloc;

namespace {

constexpr int kQueryAttempts = 10;

// The system's device list in a buffer of portListSize characters, growing portListSize while
// the system says it is too small. Null (after logging why) when there is no list.
char16_t* QueryDeviceList(DWORD* count) {
  for (int attempt = 0; attempt < kQueryAttempts; attempt++) {
    char16_t* buffer =
        static_cast<char16_t*>(portListAllocate(size_t{portListSize} * sizeof(char16_t)));
    if (buffer == nullptr) {
      LogMessage(u"Out of memory query building COM port list. (%d)",
                 static_cast<int32_t>(portListSize));
      return nullptr;
    }
    *count = QueryDosDeviceW(nullptr, Win32Text(buffer), portListSize);
    if (*count != 0) return buffer;
    std::free(buffer);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      LogMessage(u"QueryDosDevice failed");
      return nullptr;
    }
    portListSize *= 2;
  }
  LogMessage(u"Retry limit reached building COM port list.");
  return nullptr;
}

bool IsComName(const char16_t* name) {
  return name[0] == u'C' && name[1] == u'O' && name[2] == u'M';
}

// Appends a node for the name at the tail. Returns false when the walk should end (no node could
// be allocated); a name that cannot be copied is left out and the walk goes on with the next,
// so that a shortage of memory costs that one port and cannot repeat without end.
bool AppendPort(PortNode**& tail, const char16_t* name, size_t length) {
  PortNode* node = static_cast<PortNode*>(portListAllocate(sizeof(PortNode)));
  if (node == nullptr) {
    LogMessage(u"Memory allocation for COM port list failed(1)");
    return false;
  }
  char16_t* copy = static_cast<char16_t*>(portListAllocate((length + 1) * sizeof(char16_t)));
  if (copy == nullptr) {
    std::free(node);
    LogMessage(u"Memory allocation for COM port list failed(2)");
    return true;
  }
  TextCopy(copy, length + 1, name);
  *node = PortNode{copy, INVALID_HANDLE_VALUE, DCB{}, COMMTIMEOUTS{}, nullptr};
  *tail = node;
  tail = &node->next;
  return true;
}

// Walks the answer: terminated names, the last one empty, within count characters.
void WalkDeviceList(const char16_t* names, DWORD count, PortList* list) {
  PortNode** tail = list;
  size_t remaining = count;
  const char16_t* name = names;
  while (remaining > 0) {
    size_t length = TextLengthWithin(name, remaining);
    if (length == remaining) {
      LogMessage(u"StringCchLength error");
      return;
    }
    if (IsComName(name) && TestPortOpen(name) == 0 && !AppendPort(tail, name, length)) return;
    name += length + 1;
    remaining -= length + 1;
  }
}

}  // namespace

void BuildPortList(PortList* list) {
  FreePortList(list);
  DWORD count = 0;
  char16_t* names = QueryDeviceList(&count);
  if (names == nullptr) return;
  WalkDeviceList(names, count, list);
  std::free(names);
}

int TestPortOpen(const char16_t* name) {
  char16_t path[kPathCapacity];
  BuildPortPath(path, name);
  HANDLE port = CreateFileW(Win32Text(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (port == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(port);
  return 0;
}

void FreePortList(PortList* list) {
  PortNode* node = *list;
  while (node != nullptr) {
    PortNode* next = node->next;
    std::free(node->name);
    std::free(node);
    node = next;
  }
  *list = nullptr;
}
