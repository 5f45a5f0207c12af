// The removal pass: which devices go, what is counted, when the service is deleted,
// and the failures it survives. What whole runs leave is checked by the scenarios.
#include "devices/remove_devices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/resource_strings.h"
#include "devices/device_classes.h"
#include "tests/support/sim_machine.h"

namespace {

constexpr const char* k3A02 = "PCI\\VEN_1E7C&DEV_3A02&SUBSYS_00011E7C&REV_02\\4&1A2B3C4D&0&00E1";
constexpr const char* k3A07 = "PCI\\VEN_1E7C&DEV_3A07&SUBSYS_00011E7C&REV_02\\4&1A2B3C4D&0&00E2";
constexpr const char* k4C43 = "PCI\\VEN_1E7C&DEV_4C43&SUBSYS_00011E7C&REV_01\\4&1A2B3C4D&0&00E0";
constexpr const char* kListed = "PCI\\VEN_8086&DEV_10D3&SUBSYS_00008086&REV_00\\3&11583659&0&C8";
constexpr const char* kUnlisted = "PCI\\VEN_8086&DEV_1234&SUBSYS_00008086&REV_00\\3&11583659&0&D0";
constexpr const char* kNoDescription = "PCI\\VEN_1E7C&DEV_4C40&SUBSYS_00011E7C&REV_01\\4&1A2B3C4D&0&00E8";
constexpr const char* kWaiting = "PCI\\VEN_1E7C&DEV_7D31&SUBSYS_00011E7C&REV_01\\4&2B3C4D5E&0&0010";

class RemoveDevicesTest : public SimMachineTest {
 protected:
  void SetUp() override {
    SimMachineTest::SetUp();
    ASSERT_TRUE(LoadResourceStrings(state_));
    AddService("RX90K");
  }
  RunState state_{};
};

TEST_F(RemoveDevicesTest, RemovesTheSupportedDevicesOfOneClassThenDeletesTheService) {
  SetString(std::string(where::kSupportedList) + "\\8086", "10D3", "");
  for (const char* device : {k3A02, k3A07, kNoDescription, kListed, kUnlisted})
    AddDevice(where::kNetClass, device, device == kNoDescription ? nullptr : "adapter");
  AddDevice(where::kOtherClass, kWaiting, "Ethernet Controller");
  sim::ResetCalls();

  EXPECT_EQ(RemoveDevicesOfClass(state_, GUID_DEVCLASS_NET), 3);
  EXPECT_FALSE(DeviceExists(k3A02));
  EXPECT_FALSE(DeviceExists(k3A07)) << "the device after a removed one is still reached";
  EXPECT_FALSE(DeviceExists(kListed));
  EXPECT_TRUE(DeviceExists(kNoDescription));
  EXPECT_TRUE(DeviceExists(kUnlisted));
  EXPECT_TRUE(DeviceExists(kWaiting));
  EXPECT_FALSE(ServiceExists("RX90K"));
  EXPECT_EQ(sim::CallLog()[sim::CallLog().size() - 6].name, "SetupDiDestroyDeviceInfoList")
      << "the set is released before the service step";

  EXPECT_EQ(RemoveDevicesOfClass(state_, GUID_DEVCLASS_OTHER), 1);
  EXPECT_FALSE(DeviceExists(kWaiting));
}

TEST_F(RemoveDevicesTest, FailuresSkipDevicesOrTheServiceStepSilently) {
  const char* const devices[] = {k3A02, k3A07, k4C43};
  enum { kNone = 0, k1st = 1, kAll = 7 };  // the devices left, by bit
  struct Case {
    const char* name;
    const GUID* classGuid;
    const char* failedCall;  // its first call
    sim::Fault fault;
    bool serviceNameLoaded;
    int removed;
    int left;
    bool serviceLeft;
  };
  const GUID* net = &GUID_DEVCLASS_NET;
  const sim::Fault returnsTwo{0, true, 2};
  const Case cases[] = {
      {"no device of the class", &GUID_DEVCLASS_OTHER, nullptr, {}, true, 0, kAll, false},
      {"class unavailable", net, "SetupDiGetClassDevsA", {}, true, 0, kAll, true},
      {"removal returns 2", net, "SetupDiRemoveDevice", returnsTwo, true, 2, k1st, false},
      {"removal fails", net, "SetupDiRemoveDevice", {}, true, 2, k1st, false},
      {"identifier unreadable", net, "SetupDiGetDeviceInstanceIdA", {}, true, 2, k1st, false},
      {"description unreadable", net, "SetupDiGetDeviceRegistryPropertyA", {}, true, 2, k1st, false},
      {"no service manager", net, "OpenSCManagerA", {}, true, 3, kNone, true},
      {"no service name", net, nullptr, {}, false, 3, kNone, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* device : devices) AddDevice(where::kNetClass, device, "adapter");
    AddService("RX90K");
    sim::ResetCalls();
    if (c.failedCall != nullptr) sim::FailCall(c.failedCall, c.fault, 1);
    RunState unloaded{};

    EXPECT_EQ(RemoveDevicesOfClass(c.serviceNameLoaded ? state_ : unloaded, *c.classGuid), c.removed);

    for (int i = 0; i < 3; ++i) EXPECT_EQ(DeviceExists(devices[i]), (c.left & (1 << i)) != 0) << devices[i];
    EXPECT_EQ(ServiceExists("RX90K"), c.serviceLeft);
    // Only an unavailable class skips reading the list.
    EXPECT_EQ(Calls("RegOpenKeyExA").empty(), c.serviceLeft && c.removed == 0);
  }
}

TEST_F(RemoveDevicesTest, FieldsComeFromEachDevicesOwnIdentifier) {
  // Sorted after the longer identifier, whose read leaves "4C43" at characters 17 to 20
  // of the buffer, past the end of this 16-character one.
  const char* shortId = "PCI\\VEN_1E7C&X\\1";
  AddDevice(where::kNetClass, k4C43, "adapter");
  AddDevice(where::kNetClass, shortId, "Odd adapter");
  EXPECT_EQ(RemoveDevicesOfClass(state_, GUID_DEVCLASS_NET), 1);
  EXPECT_TRUE(DeviceExists(shortId));

  // Its own fields are vendor 0x1E7C and device 0.
  SetString(std::string(where::kSupportedList) + "\\1E7C", "0000", "");
  EXPECT_EQ(RemoveDevicesOfClass(state_, GUID_DEVCLASS_NET), 1);
  EXPECT_FALSE(DeviceExists(shortId));
}

TEST_F(RemoveDevicesTest, EveryFailedCallReleasesTheSetTheListAndTheServiceHandles) {
  ExpectHandlesClosedWhenAnyCallFails(
      [this] {
        SetString(std::string(where::kSupportedList) + "\\8086", "10D3", "");
        AddDevice(where::kNetClass, k4C43, "adapter");
        AddDevice(where::kNetClass, kListed, "adapter");
        AddService("RX90K");
      },
      [this] { RemoveDevicesOfClass(state_, GUID_DEVCLASS_NET); });
}

}  // namespace
