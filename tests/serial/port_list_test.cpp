// Port discovery over a DOS-device folder of pseudo-terminals: which names are kept and in what
// order, the growing device-list buffer, and every way the list can come out short.
#include <algorithm>
#include <memory>

#include "serial/port.h"
#include "serial/port_list.h"
#include "serial_fixture.h"

namespace {

// Allocation that fails on a chosen call and records the sizes asked for.
std::vector<size_t> requests;
size_t failingCall = 0;
void* RecordingAllocate(size_t bytes) {
  requests.push_back(bytes);
  return requests.size() == failingCall ? nullptr : std::malloc(bytes);
}

class PortListTest : public SerialTest {
 protected:
  PortList list = nullptr;
  std::vector<std::unique_ptr<PtyPair>> more;

  PortListTest() {
    portListSize = 0x2000;
    requests.clear();
    failingCall = 0;
    portListAllocate = RecordingAllocate;
  }
  ~PortListTest() override {
    FreePortList(&list);
    portListAllocate = std::malloc;
  }

  std::vector<std::u16string> Build() {
    BuildPortList(&list);
    std::vector<std::u16string> names;
    for (PortNode* node = list; node != nullptr; node = node->next) names.push_back(node->name);
    return names;
  }
  // Another pseudo-terminal under each of the given names.
  void AddPorts(std::initializer_list<const char*> names) {
    for (const char* name : names) {
      more.push_back(std::make_unique<PtyPair>());
      devices.Link(name, more.back()->slavePath);
    }
  }
  // Entries that are no devices, long enough in all to need more than `characters` characters.
  void AddFiller(size_t characters) {
    for (size_t used = 0, i = 0; used <= characters; i++) {
      std::string name = "FILLER_DEVICE_" + std::to_string(i);
      devices.Link(name, "/nonexistent/" + name);
      used += name.size() + 1;
    }
  }
  // The folder's own order, kept to the given names.
  std::vector<std::u16string> InFolderOrder(const std::vector<std::string>& kept) {
    std::vector<std::u16string> names;
    for (const std::string& name : devices.Names())
      if (std::find(kept.begin(), kept.end(), name) != kept.end()) names.push_back(ToU16(name));
    return names;
  }
  // Builds the list while the named port is in use.
  std::vector<std::u16string> BuildWhileBusy(const char16_t* name) {
    HANDLE busy = OpenPort(name, nullptr, nullptr);
    EXPECT_NE(busy, INVALID_HANDLE_VALUE);
    std::vector<std::u16string> names = Build();
    RestorePort(busy, nullptr, nullptr);
    return names;
  }
};

TEST_F(PortListTest, keeps_free_names_beginning_with_upper_case_COM_in_the_systems_order) {
  AddPorts({"COM12", "COMx", "COM", "com7", "CO", "XCOM1", "COM8"});
  devices.Link("COM9", "/nonexistent/tty");
  EXPECT_EQ(BuildWhileBusy(u"COM8"), InFolderOrder({"COM5", "COM12", "COMx", "COM"}));
  // Rebuilding starts from nothing: a port gone busy since is no longer listed.
  EXPECT_EQ(BuildWhileBusy(u"COM12"), InFolderOrder({"COM5", "COMx", "COM8", "COM"}));
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(PortListTest, is_empty_and_silent_when_no_COM_port_is_free) {
  AddPorts({"TTY1"});
  EXPECT_TRUE(BuildWhileBusy(u"COM5").empty());
  EXPECT_EQ(list, nullptr);
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(PortListTest, doubles_portListSize_when_the_names_outgrow_it_and_starts_there_next_time) {
  AddFiller(8192);
  EXPECT_EQ(Build(), Lines{u"COM5"});
  EXPECT_EQ(portListSize, 16384u);
  // The first call tried 8192 characters, then 16384; the next starts at 16384.
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests[0], 8192 * sizeof(char16_t));
  EXPECT_EQ(requests[1], 16384 * sizeof(char16_t));
  requests.clear();
  EXPECT_EQ(Build(), Lines{u"COM5"});
  EXPECT_EQ(requests[0], 16384 * sizeof(char16_t));
  EXPECT_TRUE(log.Lines().empty());

  // After ten too-small answers it gives up, and the next build starts where it stopped.
  portListSize = 1;
  EXPECT_TRUE(Build().empty());
  EXPECT_EQ(portListSize, 1024u);
  EXPECT_EQ(log.Lines(), Lines{u"Retry limit reached building COM port list."});
  requests.clear();
  EXPECT_EQ(Build(), Lines{u"COM5"});
  EXPECT_EQ(requests[0], 1024 * sizeof(char16_t));
  EXPECT_EQ(portListSize, 16384u);
}

TEST_F(PortListTest, reports_each_failure_and_keeps_what_it_could_list) {
  setenv("PENTREL_DOSDEVICES", "/nonexistent/dosdevices", 1);
  EXPECT_TRUE(Build().empty());
  failingCall = requests.size() + 1;  // the next buffer
  EXPECT_TRUE(Build().empty());
  EXPECT_EQ(log.Lines(), (Lines{u"QueryDosDevice failed",
                                u"Out of memory query building COM port list. (8192)"}));

  setenv("PENTREL_DOSDEVICES", devices.path.c_str(), 1);
  AddPorts({"COM6", "COM7"});
  Lines all = InFolderOrder({"COM5", "COM6", "COM7"});
  struct Case {
    size_t failing;  // counted from the buffer: first node, its name, second node
    Lines kept;
    std::u16string logged;
  } cases[] = {
      {3, {all[1], all[2]}, u"Memory allocation for COM port list failed(2)"},
      {4, {all[0]}, u"Memory allocation for COM port list failed(1)"},
  };
  for (const Case& c : cases) {
    requests.clear();
    failingCall = c.failing;
    EXPECT_EQ(Build(), c.kept);
    EXPECT_EQ(log.Lines().back(), c.logged);
  }
}

}  // namespace
