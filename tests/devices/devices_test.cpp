// The supported-device list as read from the registry, at its name and data capacities and
// while it changes; the removal pass over each device's own identifier, and its failures.
#include "app/resource_strings.h"
#include "devices/device_classes.h"
#include "devices/remove_devices.h"
#include "devices/supported_devices.h"
#include "tests/support/machine.h"

namespace {

using namespace where;

class DevicesTest : public MachineTest {
 protected:
  void List(const std::string& vendor, const std::string& device, size_t data = 0) {
    SetBytes(kSupported + vendor, device, REG_SZ, std::string(data, 'v'));
  }
  // The list's pairs in the order read; "none" and `count` when there is no list.
  std::string ReadList(std::function<void()> plan = [] {}) {
    sim::ResetCalls();
    plan();
    uint32_t count = 777;
    DevicePair* list = ReadSupportedDeviceList(&count);
    std::string pairs = list == nullptr ? "none " + std::to_string(count) : "";
    char pair[16];
    for (uint32_t i = 0; list != nullptr && i < count; ++i)
      pairs += (std::snprintf(pair, sizeof pair, "%04X:%04X ", list[i].vendorId, list[i].deviceId), pair);
    std::free(list);
    EXPECT_EQ(sim::OpenRegistryKeyCount(), 0);
    return pairs;
  }
};

TEST_F(DevicesTest, TheListIsReadInRegistryOrderWithinItsCapacitiesAndAsCounted) {
  EXPECT_EQ(ReadList(), "none 777");
  List("Notes", "0001"), List("1234", "notes");
  EXPECT_EQ(ReadList(), "none 777");
  for (const std::string& vendor : {"1111"s, "ABC"s, "ABCDE"s, "babe"s, "ABCE" + std::string(123, 'e')})
    List(vendor, "00ff");
  // A vendor name of 128 characters ends the walk over the vendors, a value name of 512
  // characters or data of 513 bytes the walk over a vendor's values.
  List("FFFE" + std::string(124, 'f'), "0001"), List("FFFF", "0001");
  for (const std::string& device :
       {"00"s, "0001"s, "0002" + std::string(507, 'x'), "0003" + std::string(508, 'x'), "0004"s})
    List("BEEF", device);
  List("CAFE", "0001", 511), List("CAFE", "0002", 512), List("CAFE", "0003", 513), List("CAFE", "0004");
  EXPECT_EQ(ReadList(), "1111:00FF ABCD:00FF ABCE:00FF BABE:00FF BEEF:0001 BEEF:0002 CAFE:0001 CAFE:0002 ");
  EXPECT_EQ(ReadList([] { sim::FailCall("LoadStringA", {}); }), "none 777");
  EXPECT_EQ(ReadList([] { sim::FailCall("RegOpenKeyExA", {}, 1); }), "none 777");
  Open();
  List("1111", "0001"), List("2222", "0002"), List("2222", "0003");
  // Opens: the list, then 1111 and 2222 to count, then again to fill. A vendor that
  // cannot be opened adds nothing; the filling pass fills at most what was counted.
  EXPECT_EQ(ReadList([] { sim::FailCall("RegOpenKeyExA", {}, 3); }), "1111:0001 ");
  EXPECT_EQ(ReadList([] { sim::FailCall("RegOpenKeyExA", {}, 5); }), "1111:0001 ");
  // The counting pass enumerates the vendors three times; the list changes right after.
  const auto then = [](std::function<void()> change) {
    return [change] { sim::BeforeCall("RegEnumKeyExA", 4, change); };
  };
  EXPECT_EQ(ReadList(then([this] { List("1111", "0009"); })), "1111:0001 1111:0009 2222:0002 ");
  EXPECT_EQ(ReadList(then([this] { List("0000", "0009"); })), "0000:0009 1111:0001 1111:0009 2222:0002 ");
  EXPECT_EQ(ReadList(then([this] {
              sim::DeleteSubkeyTree(*sim::FindKeyPath(sim::TheMachine().localMachine, kSupported), "2222");
            })),
            "0000:0009 1111:0001 1111:0009 ");
}

TEST_F(DevicesTest, ThePassRemovesWhatEachDevicesOwnIdentifierNamesAndSurvivesFailures) {
  RunState state{};
  ASSERT_TRUE(LoadResourceStrings(state));
  // Listed in an order that the lookup cannot search unsorted.
  for (const char* device : {"0007", "0005", "0003", "0001", "0000"}) List("1E7D", device);
  List("1E7C", "0000");
  // Identifiers and descriptions of 4095 characters fit their buffers with the NUL; the
  // fields of a short identifier are 0 past its end, whatever a longer one left there.
  const std::string removed[] = {
      PciId("1E7C", "4C43"), PciId("1E7D", "0001"),
      PciId("1E7D", "0003"), PciId("1E7D", "0005"),
      PciId("1E7D", "0007"), "PCI\\VEN_1E7C&DEV_4C43&" + std::string(4071, 'f') + "\\1",
      PciId("1E7C", "4C46"), "PCI\\VEN_1E7C\\1",
      "PCI\\VEN_1E7D\\1",    "XYZ\\VEN_1E7C&DEV_4C40\\1"};
  const std::string kept[] = {PciId("1E7D", "0002"), PciId("1E7C", "9999"),
                              "PCI\\VEN_1E7C&DEV_4C41&" + std::string(4072, 't') + "\\1",
                              PciId("1E7C", "4C47")};
  const struct {
    Failing failing;
    int32_t counted, left;  // what the pass returns, and how many it should have removed stay
    bool serviceGone;
  } cases[] = {{{}, 10, 0, true},
               {{"SetupDiGetClassDevsA", 1, {}}, 0, 10, false},
               {{"SetupDiGetDeviceInstanceIdA", 1, {}}, 9, 1, true},
               {{"SetupDiGetDeviceRegistryPropertyA", 1, {}}, 9, 1, true},
               {{"SetupDiRemoveDevice", 2, {}}, 9, 1, true},
               {{"SetupDiRemoveDevice", 2, {0, true, 2}}, 9, 1, true},
               {{"SetupDiEnumDeviceInfo", 1, {}}, 0, 10, true},
               {{"OpenSCManagerA", 1, {}}, 10, 0, false},
               {{"OpenServiceA", 1, {}}, 10, 0, false},
               {{"DeleteService", 1, {}}, 10, 0, false}};
  for (const auto& c : cases) {
    for (const std::string& id : removed)
      AddDevice(kNet, id, id == PciId("1E7C", "4C46") ? std::string(4095, 'd').c_str() : "adapter");
    for (const std::string& id : kept)
      AddDevice(kNet, id, id == PciId("1E7C", "4C47") ? std::string(4096, 'd').c_str() : "adapter");
    AddDevice(kOther, PciId("1E7C", "4C42"));
    AddService("RX90K");
    Fail(c.failing);
    EXPECT_EQ(RemoveDevicesOfClass(state, GUID_DEVCLASS_NET), c.counted) << c.failing.call;
    int32_t left = 0;
    for (const std::string& id : removed) left += HasDevice(id);
    EXPECT_EQ(left, c.left) << c.failing.call;
    for (const std::string& id : kept) EXPECT_TRUE(HasDevice(id)) << id.substr(0, 30);
    EXPECT_TRUE(HasDevice(PciId("1E7C", "4C42")));
    EXPECT_EQ(Has("SYSTEM\\CurrentControlSet\\Services\\RX90K"), !c.serviceGone) << c.failing.call;
    EXPECT_EQ(sim::OpenDeviceSetCount() + sim::OpenServiceHandleCount() + sim::OpenRegistryKeyCount(), 0);
  }
}

}  // namespace
