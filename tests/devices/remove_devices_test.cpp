// The removal pass over seeded machines: which devices go, what is counted, when the
// service is deleted, and that every set, key and handle is released on every path.
#include "devices/remove_devices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/resource_strings.h"
#include "app/run_installer.h"
#include "devices/device_classes.h"
#include "tests/support/sim_machine.h"

namespace {

constexpr const char* kNet = "{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr const char* kOther = "{4D36E97E-E325-11CE-BFC1-08002BE10318}";
constexpr const char* kListPath = "SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices";
constexpr const char* kService = "RX90K";

// Built-in devices.
constexpr const char* kBuiltIn3A02 = "PCI\\VEN_1E7C&DEV_3A02&SUBSYS_00011E7C&REV_02\\4&1A2B3C4D&0&00E1";
constexpr const char* kBuiltIn3A07 = "PCI\\VEN_1E7C&DEV_3A07&SUBSYS_00011E7C&REV_02\\4&1A2B3C4D&0&00E2";
constexpr const char* kBuiltIn4C43 = "PCI\\VEN_1E7C&DEV_4C43&SUBSYS_00011E7C&REV_01\\4&1A2B3C4D&0&00E0";
constexpr const char* kWaiting7D31 = "PCI\\VEN_1E7C&DEV_7D31&SUBSYS_00011E7C&REV_01\\4&2B3C4D5E&0&0010";
// A device that only the registry list names, and one that nothing names.
constexpr const char* kListed10D3 = "PCI\\VEN_8086&DEV_10D3&SUBSYS_00008086&REV_00\\3&11583659&0&C8";
constexpr const char* kOther1234 = "PCI\\VEN_8086&DEV_1234&SUBSYS_00008086&REV_00\\3&11583659&0&D0";
// Identifiers without PCI fields: both fields read as 0.
constexpr const char* kRootAdapter = "ROOT\\NET\\0000";
constexpr const char* kVpnAdapter = "SWD\\MSRRAS\\MS_NDISWANIP";

class RemoveDevicesTest : public SimMachineTest {
 protected:
  void SetUp() override {
    SimMachineTest::SetUp();
    LoadResourceStrings(state_);
    AddService(kService);
  }

  void AddListEntry(const std::string& vendor, const std::string& device) {
    SetString(std::string(kListPath) + "\\" + vendor, device, "");
  }

  // Several supported devices in both classes, among devices that must stay.
  void SeedMixedMachine() {
    AddListEntry("8086", "10D3");
    AddDevice(kNet, kBuiltIn3A02, "Orvix adapter");
    AddDevice(kNet, kBuiltIn3A07, "Orvix adapter #2");
    AddDevice(kNet, "PCI\\VEN_1E7C&DEV_4C40&SUBSYS_00011E7C&REV_01\\4&1A2B3C4D&0&00E8", nullptr);
    AddDevice(kNet, kBuiltIn4C43, "Orvix adapter #3");
    AddDevice(kNet, kListed10D3, "Other maker's adapter");
    AddDevice(kNet, kOther1234, "Unsupported adapter");
    AddDevice(kNet, kRootAdapter, "Loopback adapter");
    AddDevice(kOther, kWaiting7D31, "Ethernet Controller");
    AddDevice(kOther, "PCI\\VEN_10EC&DEV_5229&SUBSYS_00000000&REV_01\\4&3&0&00E5", "Card reader");
  }

  void ExpectStaysAfterEveryRun() {
    EXPECT_TRUE(DeviceExists("PCI\\VEN_1E7C&DEV_4C40&SUBSYS_00011E7C&REV_01\\4&1A2B3C4D&0&00E8"))
        << "no description, never removed";
    EXPECT_TRUE(DeviceExists(kOther1234));
    EXPECT_TRUE(DeviceExists(kRootAdapter));
    EXPECT_TRUE(DeviceExists("PCI\\VEN_10EC&DEV_5229&SUBSYS_00000000&REV_01\\4&3&0&00E5"));
  }

  std::vector<std::string> CallNames() {
    std::vector<std::string> names;
    for (const sim::CallRecord& call : sim::CallLog()) names.push_back(call.name);
    return names;
  }

  bool Called(const std::string& name) {
    for (const sim::CallRecord& call : sim::CallLog()) {
      if (call.name == name) return true;
    }
    return false;
  }

  RunState state_{};
};

TEST_F(RemoveDevicesTest, RemovesTheSupportedDevicesOfOneClassThenTheService) {
  SeedMixedMachine();
  EXPECT_EQ(RemoveDevicesOfClass(state_, GUID_DEVCLASS_NET), 4);
  EXPECT_FALSE(DeviceExists(kBuiltIn3A02));
  EXPECT_FALSE(DeviceExists(kBuiltIn3A07)) << "the device after a removed one is still reached";
  EXPECT_FALSE(DeviceExists(kBuiltIn4C43));
  EXPECT_FALSE(DeviceExists(kListed10D3));
  EXPECT_TRUE(DeviceExists(kWaiting7D31)) << "another class";
  ExpectStaysAfterEveryRun();
  EXPECT_FALSE(ServiceExists(kService));
  ExpectNoOpenHandles();

  EXPECT_EQ(RemoveDevicesOfClass(state_, GUID_DEVCLASS_OTHER), 1);
  EXPECT_FALSE(DeviceExists(kWaiting7D31));
  ExpectStaysAfterEveryRun();
  ExpectNoOpenHandles();
}

TEST_F(RemoveDevicesTest, ReleasesTheSetBeforeDeletingTheService) {
  AddDevice(kNet, kBuiltIn4C43, "Orvix adapter");
  sim::ResetCalls();
  EXPECT_EQ(RemoveDevicesOfClass(state_, GUID_DEVCLASS_NET), 1);
  const std::vector<std::string> names = CallNames();
  ASSERT_GE(names.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(names.end() - 6, names.end()),
            (std::vector<std::string>{"SetupDiDestroyDeviceInfoList", "OpenSCManagerA", "OpenServiceA",
                                      "DeleteService", "CloseServiceHandle", "CloseServiceHandle"}));
}

TEST_F(RemoveDevicesTest, EmptyClassStillDeletesTheService) {
  AddDevice(kOther, kWaiting7D31, "Ethernet Controller");
  EXPECT_EQ(RemoveDevicesOfClass(state_, GUID_DEVCLASS_NET), 0);
  EXPECT_FALSE(ServiceExists(kService));
  EXPECT_TRUE(DeviceExists(kWaiting7D31));

  EXPECT_EQ(RemoveDevicesOfClass(state_, GUID_DEVCLASS_OTHER), 1) << "a service already gone is no obstacle";
  ExpectNoOpenHandles();
}

TEST_F(RemoveDevicesTest, UnavailableClassLeavesDevicesAndServiceAlone) {
  SeedMixedMachine();
  sim::ResetCalls();
  sim::FailCall("SetupDiGetClassDevsA", sim::Fault{});
  EXPECT_EQ(RemoveDevicesOfClass(state_, GUID_DEVCLASS_NET), 0);
  EXPECT_TRUE(DeviceExists(kBuiltIn4C43));
  EXPECT_TRUE(ServiceExists(kService));
  EXPECT_FALSE(Called("RegOpenKeyExA")) << "the list is not even read";
  EXPECT_FALSE(Called("OpenSCManagerA"));
  ExpectNoOpenHandles();
}

TEST_F(RemoveDevicesTest, RemovalThatDoesNotReturnOneIsNotCounted) {
  AddDevice(kNet, kBuiltIn3A02, "Orvix adapter");
  AddDevice(kNet, kBuiltIn3A07, "Orvix adapter #2");
  AddDevice(kNet, kBuiltIn4C43, "Orvix adapter #3");
  sim::Fault returnsTwo;
  returnsTwo.useResult = true;
  returnsTwo.result = 2;
  sim::FailCall("SetupDiRemoveDevice", returnsTwo, 1);
  sim::FailCall("SetupDiRemoveDevice", sim::Fault{}, 2);
  EXPECT_EQ(RemoveDevicesOfClass(state_, GUID_DEVCLASS_NET), 1);
  EXPECT_TRUE(DeviceExists(kBuiltIn3A02));
  EXPECT_TRUE(DeviceExists(kBuiltIn3A07));
  EXPECT_FALSE(DeviceExists(kBuiltIn4C43)) << "the loop goes on after failures";
  EXPECT_FALSE(ServiceExists(kService));
  ExpectNoOpenHandles();
}

TEST_F(RemoveDevicesTest, UnreadableDevicesAreSkippedAndEverythingIsReleased) {
  AddListEntry("8086", "10D3");
  AddDevice(kNet, kBuiltIn3A02, "Orvix adapter");
  AddDevice(kNet, kBuiltIn3A07, "Orvix adapter #2");
  AddDevice(kNet, kBuiltIn4C43, "Orvix adapter #3");
  AddDevice(kNet, kListed10D3, "Other maker's adapter");
  sim::FailCall("SetupDiGetDeviceInstanceIdA", sim::Fault{}, 1);
  sim::FailCall("SetupDiGetDeviceRegistryPropertyA", sim::Fault{}, 1);  // the second device's
  sim::FailCall("SetupDiEnumDeviceInfo", sim::Fault{}, 4);              // ends the loop early
  EXPECT_EQ(RemoveDevicesOfClass(state_, GUID_DEVCLASS_NET), 1);
  EXPECT_TRUE(DeviceExists(kBuiltIn3A02));
  EXPECT_TRUE(DeviceExists(kBuiltIn3A07));
  EXPECT_FALSE(DeviceExists(kBuiltIn4C43));
  EXPECT_TRUE(DeviceExists(kListed10D3));
  EXPECT_FALSE(ServiceExists(kService));
  ExpectNoOpenHandles();
}

TEST_F(RemoveDevicesTest, FieldsComeFromEachDevicesOwnIdentifier) {
  // Sorted after the longer identifier, so its read leaves "4C43" at characters 17 to
  // 20 of the buffer, past the end of this 16-character identifier.
  const char* shortId = "PCI\\VEN_1E7C&X\\1";
  AddDevice(kNet, kBuiltIn4C43, "Orvix adapter");
  AddDevice(kNet, shortId, "Odd adapter");
  EXPECT_EQ(RemoveDevicesOfClass(state_, GUID_DEVCLASS_NET), 1);
  EXPECT_TRUE(DeviceExists(shortId));

  // Its own fields are vendor 0x1E7C and device 0.
  AddListEntry("1E7C", "0000");
  EXPECT_EQ(RemoveDevicesOfClass(state_, GUID_DEVCLASS_NET), 1);
  EXPECT_FALSE(DeviceExists(shortId));
  ExpectNoOpenHandles();
}

TEST_F(RemoveDevicesTest, MistypedListNamesDoNotRemoveDevicesWithoutPciFields) {
  AddDevice(kNet, kRootAdapter, "Loopback adapter");
  AddDevice(kNet, kVpnAdapter, "WAN Miniport (IP)");
  AddListEntry("GGGG", "0000");
  AddListEntry("VEN_", "0000");
  AddListEntry("0000", "DEV_");
  AddListEntry("12", "0000");
  EXPECT_EQ(RemoveDevicesOfClass(state_, GUID_DEVCLASS_NET), 0);
  EXPECT_TRUE(DeviceExists(kRootAdapter));
  EXPECT_TRUE(DeviceExists(kVpnAdapter));

  // Zero written out as digits is taken at its word.
  AddListEntry("0000", "0000");
  EXPECT_EQ(RemoveDevicesOfClass(state_, GUID_DEVCLASS_NET), 2);
  EXPECT_FALSE(DeviceExists(kRootAdapter));
  EXPECT_FALSE(DeviceExists(kVpnAdapter));
  ExpectNoOpenHandles();
}

TEST_F(RemoveDevicesTest, ServiceStepNeedsTheManagerAndTheName) {
  AddDevice(kNet, kBuiltIn4C43, "Orvix adapter");
  sim::FailCall("OpenSCManagerA", sim::Fault{});
  EXPECT_EQ(RemoveDevicesOfClass(state_, GUID_DEVCLASS_NET), 1);
  EXPECT_TRUE(ServiceExists(kService));
  ExpectNoOpenHandles();
  sim::ClearFaults();

  RunState unloaded{};  // the string table did not yield the service name
  AddDevice(kNet, kBuiltIn3A02, "Orvix adapter");
  EXPECT_EQ(RemoveDevicesOfClass(unloaded, GUID_DEVCLASS_NET), 1);
  EXPECT_FALSE(DeviceExists(kBuiltIn3A02));
  EXPECT_TRUE(ServiceExists(kService));
  ExpectNoOpenHandles();
}

TEST_F(RemoveDevicesTest, EveryModeRemovesTheSupportedDevicesOfBothClasses) {
  for (const char* tail : {"", "/au", "/inf=net7341a.inf", "/u", "/au /u"}) {
    SCOPED_TRACE(tail);
    SeedMixedMachine();
    AddService(kService);
    RunState state{};
    RunInstaller(state, tail);
    EXPECT_FALSE(DeviceExists(kBuiltIn3A02));
    EXPECT_FALSE(DeviceExists(kBuiltIn3A07));
    EXPECT_FALSE(DeviceExists(kBuiltIn4C43));
    EXPECT_FALSE(DeviceExists(kListed10D3));
    EXPECT_FALSE(DeviceExists(kWaiting7D31));
    ExpectStaysAfterEveryRun();
    EXPECT_FALSE(ServiceExists(kService));
    ExpectNoOpenHandles();
  }
}

}  // namespace
