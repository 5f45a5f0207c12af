// The supported-device list as read from the registry, under its name and data
// capacities and while it changes; the removal pass over each device's own identifier,
// and the failures that it survives.
#include <cstdlib>
#include <functional>

#include "app/resource_strings.h"
#include "devices/device_classes.h"
#include "devices/remove_devices.h"
#include "devices/supported_devices.h"
#include "platform/sim/registry_tree.h"
#include "tests/support/machine.h"

namespace {

using namespace where;

class DevicesTest : public MachineTest {
 protected:
  void Value(const std::string& vendor, const std::string& name, size_t length = 0) {
    SetBytes(std::string(kSupported) + "\\" + vendor, name, REG_SZ, std::string(length, 'v'));
  }
  // The list's pairs in the order read, "none" for no list (and `count` untouched).
  std::string ReadList() {
    uint32_t count = 777;
    DevicePair* list = ReadSupportedDeviceList(&count);
    char text[16];
    std::string pairs = list == nullptr ? "none" + std::to_string(count) : "";
    for (uint32_t i = 0; list != nullptr && i < count; ++i) {
      std::snprintf(text, sizeof text, "%04X:%04X ", list[i].vendorId, list[i].deviceId);
      pairs += text;
    }
    std::free(list);
    return pairs;
  }
};

TEST_F(DevicesTest, TheListIsReadWithinItsCapacitiesAndInRegistryOrder) {
  EXPECT_EQ(ReadList(), "none777");
  sim::CreateKeyPath(sim::TheMachine().localMachine, kSupported);
  Value("Notes", "0001");
  Value("1234", "notes");
  EXPECT_EQ(ReadList(), "none777");
  for (const char* vendor : {"1111", "ABC", "ABCDE", "babe"}) Value(vendor, "00ff");
  Value("ABCE" + std::string(123, 'e'), "0127");
  // A vendor name of 128 characters ends the walk over the vendors: FFFF is never read.
  Value("FFFE" + std::string(124, 'f'), "0128");
  Value("FFFF", "0001");
  // A value name of 512 characters, or data of 513 bytes, ends its vendor's walk.
  for (const std::string& name : {std::string("00"), std::string("0001"), "0002" + std::string(507, 'x'),
                                  "0003" + std::string(508, 'x'), std::string("0004")})
    Value("BEEF", name);
  Value("CAFE", "0001", 511), Value("CAFE", "0002", 512), Value("CAFE", "0003", 513), Value("CAFE", "0004");
  EXPECT_EQ(ReadList(), "1111:00FF ABCD:00FF ABCE:0127 BABE:00FF BEEF:0001 BEEF:0002 CAFE:0001 CAFE:0002 ");
  sim::ResetCalls();
  sim::FailCall("LoadStringA", {});
  EXPECT_EQ(ReadList(), "none777");
}

TEST_F(DevicesTest, AVendorThatCannotBeOpenedOrAListThatChangesBetweenItsPassesKeepsToWhatWasCounted) {
  Value("1111", "0001");
  Value("2222", "0002");
  Value("2222", "0003");
  // Opens: the list, then 1111 and 2222 to count, then again to fill.
  const struct {
    std::function<void()> plan;
    std::string pairs;
  } cases[] = {
      {[] { sim::FailCall("RegOpenKeyExA", {}, 3); }, "1111:0001 "},
      {[] { sim::FailCall("RegOpenKeyExA", {}, 5); }, "1111:0001 "},
      {[] { sim::FailCall("RegOpenKeyExA", {}, 1); }, "none777"},
      // The counting pass enumerates the vendors three times.
      {[this] { sim::BeforeCall("RegEnumKeyExA", 4, [this] { Value("1111", "0009"); }); },
       "1111:0001 1111:0009 2222:0002 "},
      {[this] { sim::BeforeCall("RegEnumKeyExA", 4, [this] { Value("0000", "0009"); }); },
       "0000:0009 1111:0001 1111:0009 2222:0002 "},
      // Three vendors now: 2222 goes after it was counted, before the filling pass.
      {[] {
         sim::BeforeCall("RegEnumKeyExA", 4, [] {
           sim::DeleteSubkeyTree(*sim::FindKeyPath(sim::TheMachine().localMachine, kSupported), "2222");
         });
       },
       "0000:0009 1111:0001 1111:0009 "},
  };
  for (const auto& c : cases) {
    sim::ResetCalls();
    c.plan();
    EXPECT_EQ(ReadList(), c.pairs);
    EXPECT_EQ(sim::OpenRegistryKeyCount(), 0);
  }
}

TEST_F(DevicesTest, ThePassRemovesWhatEachDevicesOwnIdentifierNamesAndSurvivesFailures) {
  RunState state{};
  ASSERT_TRUE(LoadResourceStrings(state));
  // Listed in an order that the lookup cannot search unsorted.
  for (const char* device : {"0007", "0005", "0003", "0001", "0000"}) Value("1E7D", device);
  Value("1E7C", "0000");
  const std::string fits = "PCI\\VEN_1E7C&DEV_4C43&" + std::string(4095 - 24, 'f') + "\\1";
  const std::string tooLong = "PCI\\VEN_1E7C&DEV_4C41&" + std::string(4096 - 24, 't') + "\\1";
  const struct {
    std::string id;
    std::string description;
    bool removed;
  } devices[] = {{PciId("1E7C", "4C43"), "adapter", true},
                 {PciId("1E7D", "0001"), "adapter", true},
                 {PciId("1E7D", "0003"), "adapter", true},
                 {PciId("1E7D", "0005"), "adapter", true},
                 {PciId("1E7D", "0007"), "adapter", true},
                 {PciId("1E7D", "0002"), "adapter", false},
                 {PciId("1E7C", "9999"), "adapter", false},
                 {fits, "adapter", true},
                 {tooLong, "adapter", false},
                 {PciId("1E7C", "4C46"), std::string(4095, 'd'), true},
                 {PciId("1E7C", "4C47"), std::string(4096, 'd'), false},
                 // Fields past the end of a short identifier are 0, whatever a longer one left there.
                 {"PCI\\VEN_1E7C\\1", "adapter", true},
                 {"PCI\\VEN_1E7D\\1", "adapter", true},
                 {"XYZ\\VEN_1E7C&DEV_4C40\\1", "adapter", true}};
  const struct {
    const char* call;
    sim::Fault fault;
    uint32_t occurrence;
    int32_t counted;  // what the pass returns
    int32_t kept;     // of the devices it should remove, those that stay
    bool serviceGone;
  } cases[] = {{"", {}, 0, 10, 0, true},
               {"SetupDiGetClassDevsA", {}, 1, 0, 10, false},
               {"SetupDiGetDeviceInstanceIdA", {}, 1, 9, 1, true},
               {"SetupDiGetDeviceRegistryPropertyA", {}, 1, 9, 1, true},
               {"SetupDiRemoveDevice", {}, 2, 9, 1, true},
               {"SetupDiRemoveDevice", {0, true, 2}, 2, 9, 1, true},
               {"SetupDiEnumDeviceInfo", {}, 1, 0, 10, true},
               {"OpenSCManagerA", {}, 1, 10, 0, false},
               {"OpenServiceA", {}, 1, 10, 0, false},
               {"DeleteService", {}, 1, 10, 0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    for (const auto& device : devices) AddDevice(kNet, device.id, device.description.c_str());
    AddDevice(kOther, PciId("1E7C", "4C42"));
    AddService("RX90K");
    sim::ResetCalls();
    if (*c.call != '\0') sim::FailCall(c.call, c.fault, c.occurrence);
    EXPECT_EQ(RemoveDevicesOfClass(state, GUID_DEVCLASS_NET), c.counted);
    int32_t kept = 0;
    for (const auto& device : devices) {
      kept += device.removed && HasDevice(device.id);
      EXPECT_TRUE(device.removed || HasDevice(device.id)) << device.id.substr(0, 30);
    }
    EXPECT_EQ(kept, c.kept);
    EXPECT_TRUE(HasDevice(PciId("1E7C", "4C42")));
    EXPECT_EQ(!Has("SYSTEM\\CurrentControlSet\\Services\\RX90K"), c.serviceGone);
    EXPECT_EQ(sim::OpenDeviceSetCount() + sim::OpenServiceHandleCount() + sim::OpenRegistryKeyCount(), 0);
  }
}

}  // namespace
