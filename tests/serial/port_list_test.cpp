// Port discovery over a DOS-device folder of pseudo-terminals: which names are kept and in what
// order, the growing device-list buffer, and every way the list can come out short.
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "serial/port.h"
#include "serial/port_list.h"
#include "serial_fixture.h"

namespace {

std::vector<std::u16string> Names(PortList list) {
  std::vector<std::u16string> names;
  for (PortNode* node = list; node != nullptr; node = node->next) names.push_back(node->name);
  return names;
}

// Allocation that fails on chosen calls and records the sizes asked for.
std::vector<size_t> requests;
int failingCall = 0;
void* RecordingAllocate(size_t bytes) {
  requests.push_back(bytes);
  return static_cast<int>(requests.size()) == failingCall ? nullptr : std::malloc(bytes);
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

  // Another pseudo-terminal under the given name.
  void AddPort(const std::string& name) {
    more.push_back(std::make_unique<PtyPair>());
    devices.Link(name, more.back()->slavePath);
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
    for (const std::string& name : devices.Names()) {
      if (std::find(kept.begin(), kept.end(), name) != kept.end()) names.push_back(ToU16(name));
    }
    return names;
  }
};

TEST_F(PortListTest, keeps_free_names_beginning_with_upper_case_COM_in_the_systems_order) {
  for (const char* name : {"COM12", "COMx", "COM", "com7", "CO", "XCOM1", "COM8"}) AddPort(name);
  devices.Link("COM9", "/nonexistent/tty");
  HANDLE busy = OpenPort(u"COM8", nullptr, nullptr);
  ASSERT_NE(busy, INVALID_HANDLE_VALUE);
  BuildPortList(&list);
  RestorePort(busy, nullptr, nullptr);
  EXPECT_EQ(Names(list), InFolderOrder({"COM5", "COM12", "COMx", "COM"}));
  EXPECT_TRUE(log.Lines().empty());

  // Rebuilding starts from nothing: a port gone busy since is no longer listed.
  busy = OpenPort(u"COM12", nullptr, nullptr);
  BuildPortList(&list);
  RestorePort(busy, nullptr, nullptr);
  EXPECT_EQ(Names(list), InFolderOrder({"COM5", "COMx", "COM8", "COM"}));
}

TEST_F(PortListTest, is_empty_and_silent_when_no_COM_port_is_free) {
  HANDLE busy = OpenPort(u"COM5", nullptr, nullptr);
  AddPort("TTY1");
  BuildPortList(&list);
  RestorePort(busy, nullptr, nullptr);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(log.Lines(), std::vector<std::u16string>{});
}

TEST_F(PortListTest, doubles_portListSize_when_the_names_outgrow_8192_characters_and_keeps_it) {
  AddFiller(8192);
  BuildPortList(&list);
  EXPECT_EQ(Names(list), std::vector<std::u16string>{u"COM5"});
  EXPECT_EQ(portListSize, 16384u);
  // The first call tried 8192 characters, then 16384; the next starts at 16384.
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests[0], 8192 * sizeof(char16_t));
  EXPECT_EQ(requests[1], 16384 * sizeof(char16_t));
  requests.clear();
  BuildPortList(&list);
  EXPECT_EQ(requests[0], 16384 * sizeof(char16_t));
  EXPECT_EQ(Names(list), std::vector<std::u16string>{u"COM5"});
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(PortListTest, gives_up_after_ten_too_small_answers_and_starts_there_next_time) {
  portListSize = 1;
  AddFiller(1024);
  BuildPortList(&list);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(portListSize, 1024u);
  EXPECT_EQ(log.Lines(),
            std::vector<std::u16string>{u"Retry limit reached building COM port list."});
  BuildPortList(&list);
  EXPECT_EQ(portListSize, 2048u);
  EXPECT_EQ(Names(list), std::vector<std::u16string>{u"COM5"});
}

TEST_F(PortListTest, reports_a_device_list_that_cannot_be_had) {
  setenv("PENTREL_DOSDEVICES", "/nonexistent/dosdevices", 1);
  BuildPortList(&list);
  EXPECT_EQ(list, nullptr);
  failingCall = static_cast<int>(requests.size()) + 1;  // the next buffer
  BuildPortList(&list);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(log.Lines(), (std::vector<std::u16string>{
                             u"QueryDosDevice failed",
                             u"Out of memory query building COM port list. (8192)"}));
}

TEST_F(PortListTest, leaves_out_a_port_whose_name_cannot_be_copied_and_goes_on) {
  AddPort("COM6");
  AddPort("COM7");
  std::vector<std::u16string> all = InFolderOrder({"COM5", "COM6", "COM7"});
  failingCall = 3;  // buffer, first node, its name
  BuildPortList(&list);
  EXPECT_EQ(Names(list), std::vector<std::u16string>(all.begin() + 1, all.end()));
  EXPECT_EQ(log.Lines(),
            std::vector<std::u16string>{u"Memory allocation for COM port list failed(2)"});
}

TEST_F(PortListTest, ends_the_walk_when_a_node_cannot_be_allocated) {
  AddPort("COM6");
  AddPort("COM7");
  std::vector<std::u16string> all = InFolderOrder({"COM5", "COM6", "COM7"});
  failingCall = 4;  // buffer, first node, its name, second node
  BuildPortList(&list);
  EXPECT_EQ(Names(list), std::vector<std::u16string>{all[0]});
  EXPECT_EQ(log.Lines(),
            std::vector<std::u16string>{u"Memory allocation for COM port list failed(1)"});
}

}  // namespace
