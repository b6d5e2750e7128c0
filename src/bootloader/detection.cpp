// Device detection on one named port or on every usable COM port.
#include "bootloader/detection.h"

#include "bootloader/commands.h"
#include "log/message_log.h"
#include "platform/text.h"
#include "serial/framing.h"
#include "serial/port.h"
#include "serial/port_list.h"
#include "settings/settings.h"

DetectedDeviceStore DetectedDevice;
bool (*DeviceResetHook)(HANDLE port, int attempt) = nullptr;

namespace {

// Every attempt polls the closing flag first: a run ends its thread on the spot when the
// program is closing, leaving its ports to the process's end.
void EndThreadIfAbortRequested() {
  if (AbortRequested.load(std::memory_order_relaxed) != 0) ExitThread(static_cast<DWORD>(-1));
}

void PromptForResetAt(int attempt) {
  if (attempt != kResetPromptAttempt) return;
  LogMessage(u" ");
  ShowProgress(u"<<< Press the MELOR reset button now >>>");
}

// Where a person would be asked to press the reset button, a front end that resets the device
// itself does so instead, and once before the first query too; false ends the search.
bool ResetOrPromptAt(HANDLE port, int attempt) {
  if (DeviceResetHook == nullptr) {
    PromptForResetAt(attempt);
    return true;
  }
  return (attempt != 0 && attempt != kResetPromptAttempt) || DeviceResetHook(port, attempt);
}

int SendQuery(HANDLE port) {
  uint8_t query[kMaxCommandSize];
  return SendPacket(port, query, BuildQueryCommand(query));
}

// Reads one reply; on a valid query reply logs the device and stores its flash size.
bool ReadQueryReply(HANDLE port, const char16_t* name, uint32_t* flashSize) {
  const uint8_t* reply;
  int32_t length;
  QueryReply parsed;
  if (ReceivePacket(port, &reply, &length, kQueryRetries) != 0) return false;
  if (!IsQueryReply(reply, length, &parsed)) return false;
  LogMessage(u"Found MELOR device on %s", name);
  LogMessage(u"bootloader v%d.%d, dev id 0x%02x, flash size 0x%x", parsed.major, parsed.minor,
             parsed.deviceId, parsed.flashSize);
  *flashSize = parsed.flashSize;
  DetectedDevice.found = true;
  TextCopy(DetectedDevice.port, kPathCapacity, name);
  DetectedDevice.reply = parsed;
  return true;
}

void OpenEveryPort(PortList list) {
  for (PortNode* node = list; node != nullptr; node = node->next) {
    node->handle = OpenPort(node->name, &node->savedState, &node->savedTimeouts);
  }
}

void GiveBack(PortNode* node) {
  RestorePort(node->handle, &node->savedState, &node->savedTimeouts);
  node->handle = INVALID_HANDLE_VALUE;
}

// Queries every port still in the search; a port whose send fails leaves it for good.
void SendQueryToAll(PortList list) {
  for (PortNode* node = list; node != nullptr; node = node->next) {
    if (node->handle != INVALID_HANDLE_VALUE && SendQuery(node->handle) != 0) GiveBack(node);
  }
}

// Reads one reply from each port in the search, in list order; the first valid one wins.
PortNode* FindAnsweringPort(PortList list, uint32_t* flashSize) {
  for (PortNode* node = list; node != nullptr; node = node->next) {
    if (node->handle != INVALID_HANDLE_VALUE && ReadQueryReply(node->handle, node->name, flashSize)) {
      return node;
    }
  }
  return nullptr;
}

// Hands the winning port to the caller and takes it out of the list's clean-up.
HANDLE TakeWinner(PortNode* winner, DCB* savedState, COMMTIMEOUTS* savedTimeouts) {
  if (savedState != nullptr) *savedState = winner->savedState;
  if (savedTimeouts != nullptr) *savedTimeouts = winner->savedTimeouts;
  HANDLE port = winner->handle;
  winner->handle = INVALID_HANDLE_VALUE;
  return port;
}

HANDLE SearchPorts(PortList list, uint32_t* flashSize, DCB* savedState,
                   COMMTIMEOUTS* savedTimeouts) {
  for (int attempt = 0; attempt < kDetectionAttempts; attempt++) {
    EndThreadIfAbortRequested();
    PromptForResetAt(attempt);
    SendQueryToAll(list);
    PortNode* winner = FindAnsweringPort(list, flashSize);
    if (winner != nullptr) return TakeWinner(winner, savedState, savedTimeouts);
  }
  LogMessage(u"MELOR not detected");
  return INVALID_HANDLE_VALUE;
}

void GiveBackAll(PortList list) {
  for (PortNode* node = list; node != nullptr; node = node->next) {
    if (node->handle != INVALID_HANDLE_VALUE) GiveBack(node);
  }
}

}  // namespace

HANDLE ProbeNamedPort(uint32_t* flashSize, DCB* savedState, COMMTIMEOUTS* savedTimeouts) {
  HANDLE port = OpenPort(ComName, savedState, savedTimeouts);
  if (port == INVALID_HANDLE_VALUE) {
    LogMessage(u"Unable to open COM port %s", ComName);
    SetLastStatus(u"Last Status: Unable to open COM port.");
    LogMessage(u"MELOR not detected");
    ShowProgress(u"");
    return INVALID_HANDLE_VALUE;
  }
  for (int attempt = 0; attempt < kDetectionAttempts; attempt++) {
    EndThreadIfAbortRequested();
    if (!ResetOrPromptAt(port, attempt)) {
      ShowProgress(u"");
      RestorePort(port, savedState, savedTimeouts);
      return INVALID_HANDLE_VALUE;
    }
    if (SendQuery(port) != 0) break;
    if (ReadQueryReply(port, ComName, flashSize)) {
      ShowProgress(u"");
      return port;
    }
  }
  LogMessage(u"MELOR not detected");
  SetLastStatus(u"Last Status: MELOR not found");
  ShowProgress(u"");
  RestorePort(port, savedState, savedTimeouts);
  return INVALID_HANDLE_VALUE;
}

HANDLE ProbeAllPorts(uint32_t* flashSize, DCB* savedState, COMMTIMEOUTS* savedTimeouts) {
  PortList list = nullptr;
  BuildPortList(&list);
  if (list == nullptr) {
    LogMessage(u"No available COM ports detected");
    ShowProgress(u"");
    return INVALID_HANDLE_VALUE;
  }
  OpenEveryPort(list);
  HANDLE port = SearchPorts(list, flashSize, savedState, savedTimeouts);
  ShowProgress(u"");
  GiveBackAll(list);
  FreePortList(&list);
  return port;
}
