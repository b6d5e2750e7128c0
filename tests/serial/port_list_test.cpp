// Port discovery over a DOS-device folder of pseudo-terminals: which names are kept and in what
// order, the growing device-list buffer, and every way the list can come out short.
#include <malloc.h>

#include <algorithm>

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

  PortListTest() {
    requests.reserve(64);  // so that the test's own bookkeeping allocates nothing while it counts
    portListSize = 0x2000;
    portListAllocate = RecordingAllocate;
  }
  ~PortListTest() override {
    FreePortList(&list);
    portListAllocate = std::malloc;
  }
  // The names listed while the named port is in use, with the allocation failing on call number
  // `failing` (0: none).
  Lines Build(const char16_t* busy = nullptr, size_t failing = 0) {
    requests.clear();
    failingCall = failing;
    HANDLE port = busy != nullptr ? OpenPort(busy, nullptr, nullptr) : INVALID_HANDLE_VALUE;
    EXPECT_EQ(port == INVALID_HANDLE_VALUE, busy == nullptr);
    BuildPortList(&list);
    if (port != INVALID_HANDLE_VALUE) RestorePort(port, nullptr, nullptr);
    Lines names;
    for (PortNode* node = list; node != nullptr; node = node->next) names.push_back(node->name);
    return names;
  }
  // The folder's own order, kept to the given names.
  Lines InFolderOrder(const std::vector<std::string>& kept) {
    Lines names;
    for (const std::string& name : Names())
      if (std::find(kept.begin(), kept.end(), name) != kept.end()) names.push_back(ToU16(name));
    return names;
  }
};

TEST_F(PortListTest, keeps_free_names_beginning_with_upper_case_COM_in_the_systems_order) {
  EXPECT_TRUE(Build(u"COM5").empty());
  EXPECT_EQ(list, nullptr);
  // Devices that open: the list checks no more than that.
  for (const char* name : {"COM12", "COMx", "COM", "com7", "CO", "XCOM1"})
    Link(name, "/dev/null");
  Link("COM9", "/nonexistent/tty");
  EXPECT_EQ(Build(u"COM5"), InFolderOrder({"COM12", "COMx", "COM"}));
  // Rebuilding starts from nothing: a port given back since is listed, and nothing twice.
  EXPECT_EQ(Build(), InFolderOrder({"COM5", "COM12", "COMx", "COM"}));
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(PortListTest, doubles_portListSize_when_the_names_outgrow_it_and_starts_there_next_time) {
  // Entries that are no devices, more than 8192 characters of names in all.
  for (size_t used = 0, i = 0; used <= 8192; i++) {
    std::string name = "FILLER_DEVICE_" + std::to_string(i);
    Link(name, "/nonexistent/" + name);
    used += name.size() + 1;
  }
  using Sizes = std::vector<size_t>;
  EXPECT_EQ(Build(), Lines{u"COM5"});
  EXPECT_EQ(Sizes(requests.begin(), requests.begin() + 2), (Sizes{8192 * 2, 16384 * 2}));
  EXPECT_EQ(Build(), Lines{u"COM5"});
  EXPECT_EQ(requests[0], 16384 * 2u);
  // After ten too-small answers it gives up, and the next build starts where it stopped.
  portListSize = 1;
  EXPECT_TRUE(Build().empty());
  EXPECT_EQ(portListSize, 1024u);
  EXPECT_EQ(Build(), Lines{u"COM5"});
  EXPECT_EQ(Sizes(requests.begin(), requests.begin() + 2), (Sizes{1024 * 2, 2048 * 2}));
  EXPECT_EQ(log.Lines(), Lines{u"Retry limit reached building COM port list."});
}

TEST_F(PortListTest, reports_each_failure_and_keeps_what_it_could_list) {
  for (const char* name : {"COM6", "COM7"}) Link(name, "/dev/null");
  Lines all = InFolderOrder({"COM5", "COM6", "COM7"});
  // Counted from the buffer: second node, first node's name. A node left without its name is
  // given back, not leaked (the whole list, built first, sets up what stays allocated for good).
  EXPECT_EQ(Build(nullptr, 4), Lines{all[0]});
  EXPECT_EQ(Build(), all);
  FreePortList(&list);
  size_t inUse = mallinfo2().uordblks;
  EXPECT_EQ(Build(nullptr, 3), (Lines{all[1], all[2]}));
  FreePortList(&list);
  EXPECT_EQ(mallinfo2().uordblks, inUse);
  EXPECT_TRUE(Build(nullptr, 1).empty());
  setenv("PENTREL_DOSDEVICES", "/nonexistent/dosdevices", 1);
  EXPECT_TRUE(Build().empty());
  EXPECT_EQ(log.Lines(), (Lines{u"Memory allocation for COM port list failed(1)",
                                u"Memory allocation for COM port list failed(2)",
                                u"Out of memory query building COM port list. (8192)",
                                u"QueryDosDevice failed"}));
}

}  // namespace
