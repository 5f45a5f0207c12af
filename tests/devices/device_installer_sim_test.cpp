// The simulated device installer and service control manager, called directly: the
// behaviour the removal pass relies on, and the failures it must survive.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "devices/device_classes.h"
#include "platform/platform.h"
#include "tests/support/sim_machine.h"

namespace {

constexpr const char* kNet = "{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr const char* kOther = "{4D36E97E-E325-11CE-BFC1-08002BE10318}";
constexpr const char* kFirst = "PCI\\VEN_1E7C&DEV_4C43&SUBSYS_00011E7C&REV_01\\4&1A2B3C4D&0&00E0";
constexpr const char* kSecond = "PCI\\VEN_1E7C&DEV_4C43&SUBSYS_00011E7C&REV_01\\4&1A2B3C4D&0&00E1";
constexpr const char* kThird = "PCI\\VEN_8086&DEV_10D3&SUBSYS_00008086&REV_00\\3&11583659&0&C8";

class DeviceInstallerTest : public SimMachineTest {
 protected:
  SP_DEVINFO_DATA Record() {
    SP_DEVINFO_DATA record;
    std::memset(&record, 0, sizeof record);
    record.cbSize = sizeof record;
    return record;
  }

  std::string InstanceId(HDEVINFO set, DWORD index) {
    SP_DEVINFO_DATA record = Record();
    if (!SetupDiEnumDeviceInfo(set, index, &record)) return "<none>";
    char id[4096];
    if (!SetupDiGetDeviceInstanceIdA(set, &record, id, sizeof id, nullptr)) return "<error>";
    return id;
  }
};

TEST_F(DeviceInstallerTest, SetHoldsThePresentDevicesOfOneClassInRegistryOrder) {
  AddDevice(kNet, kThird, "Third");
  AddDevice(kOther, "PCI\\VEN_10EC&DEV_5229&SUBSYS_00000000&REV_01\\4&3&0&00E5", "Card reader");
  AddDevice(kNet, kSecond, nullptr);
  // Class texts are compared without regard to case.
  SetString(
      "SYSTEM\\CurrentControlSet\\Enum\\PCI\\VEN_1E7C&DEV_4C43&SUBSYS_00011E7C&REV_01\\4&1A2B3C4D&0&00E0",
      "ClassGUID", "{4d36e972-e325-11ce-bfc1-08002be10318}");

  HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_NET, nullptr, nullptr, DIGCF_PRESENT);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  EXPECT_EQ(sim::OpenDeviceSetCount(), 1);
  EXPECT_EQ(InstanceId(set, 0), kFirst);
  EXPECT_EQ(InstanceId(set, 1), kSecond);
  EXPECT_EQ(InstanceId(set, 2), kThird);
  SP_DEVINFO_DATA record = Record();
  EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 3, &record));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);

  record.cbSize = sizeof record + 4;
  EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &record));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);

  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
  EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  ExpectNoOpenHandles();
}

TEST_F(DeviceInstallerTest, TextsFitOrReportTheSizeTheyNeed) {
  AddDevice(kNet, kFirst, "Orvix adapter");
  AddDevice(kNet, kSecond, nullptr);
  HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_NET, nullptr, nullptr, DIGCF_PRESENT);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVINFO_DATA first = Record();
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &first));

  char id[16];
  DWORD required = 0;
  EXPECT_FALSE(SetupDiGetDeviceInstanceIdA(set, &first, id, sizeof id, &required));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(required, std::strlen(kFirst) + 1);

  BYTE text[4096];
  DWORD type = 0;
  EXPECT_TRUE(
      SetupDiGetDeviceRegistryPropertyA(set, &first, SPDRP_DEVICEDESC, &type, text, sizeof text, &required));
  EXPECT_EQ(type, REG_SZ);
  EXPECT_STREQ(reinterpret_cast<const char*>(text), "Orvix adapter");
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &first, SPDRP_DEVICEDESC, &type, text, 5, &required));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(required, 14u);

  SP_DEVINFO_DATA second = Record();
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 1, &second));
  EXPECT_FALSE(
      SetupDiGetDeviceRegistryPropertyA(set, &second, SPDRP_DEVICEDESC, &type, text, sizeof text, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
  SetupDiDestroyDeviceInfoList(set);
}

TEST_F(DeviceInstallerTest, RemovedDeviceKeepsItsPlaceInTheSet) {
  AddDevice(kNet, kFirst, "First");
  AddDevice(kNet, kSecond, "Second");
  AddDevice(kNet, kThird, "Third");
  HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_NET, nullptr, nullptr, DIGCF_PRESENT);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVINFO_DATA first = Record();
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &first));
  EXPECT_EQ(SetupDiRemoveDevice(set, &first), 1);
  EXPECT_FALSE(DeviceExists(kFirst));
  EXPECT_TRUE(KeyExists("SYSTEM\\CurrentControlSet\\Enum\\PCI\\VEN_1E7C&DEV_4C43&SUBSYS_00011E7C&REV_01"))
      << "another instance of the same device is left";
  EXPECT_EQ(InstanceId(set, 1), kSecond);

  BYTE text[64];
  EXPECT_FALSE(
      SetupDiGetDeviceRegistryPropertyA(set, &first, SPDRP_DEVICEDESC, nullptr, text, sizeof text, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_DEVINST);
  EXPECT_FALSE(SetupDiRemoveDevice(set, &first));
  EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_DEVINST);

  SP_DEVINFO_DATA third = Record();
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 2, &third));
  EXPECT_EQ(SetupDiRemoveDevice(set, &third), 1);
  EXPECT_FALSE(KeyExists("SYSTEM\\CurrentControlSet\\Enum\\PCI\\VEN_8086&DEV_10D3&SUBSYS_00008086&REV_00"))
      << "the device key goes with its last instance";
  SetupDiDestroyDeviceInfoList(set);

  set = SetupDiGetClassDevsA(&GUID_DEVCLASS_NET, nullptr, nullptr, DIGCF_PRESENT);
  EXPECT_EQ(InstanceId(set, 0), kSecond);
  EXPECT_EQ(InstanceId(set, 1), "<none>");
  SetupDiDestroyDeviceInfoList(set);
  ExpectNoOpenHandles();
}

TEST_F(DeviceInstallerTest, FaultsFailTheWayWindowsDoes) {
  AddDevice(kNet, kFirst, "First");
  sim::FailCall("SetupDiGetClassDevsA", sim::Fault{}, 1);
  EXPECT_EQ(SetupDiGetClassDevsA(&GUID_DEVCLASS_NET, nullptr, nullptr, DIGCF_PRESENT), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_CLASS);
  EXPECT_EQ(sim::OpenDeviceSetCount(), 0);

  sim::Fault returnsTwo;
  returnsTwo.useResult = true;
  returnsTwo.result = 2;
  sim::FailCall("SetupDiRemoveDevice", returnsTwo, 1);
  HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_NET, nullptr, nullptr, DIGCF_PRESENT);
  SP_DEVINFO_DATA record = Record();
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &record));
  EXPECT_EQ(SetupDiRemoveDevice(set, &record), 2);
  EXPECT_TRUE(DeviceExists(kFirst)) << "a faulted call does not act";
  EXPECT_EQ(sim::CallLog().back().detail, kFirst);
  SetupDiDestroyDeviceInfoList(set);
  ExpectNoOpenHandles();
}

TEST_F(DeviceInstallerTest, ServicesOpenByNameAndAreDeletedOnce) {
  AddService("RX90K");
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(OpenServiceA(manager, "NoSuchService", SERVICE_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
  EXPECT_EQ(OpenServiceA(manager, "", SERVICE_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);

  SC_HANDLE first = OpenServiceA(manager, "rx90k", SERVICE_ALL_ACCESS);
  SC_HANDLE second = OpenServiceA(manager, "RX90K", SERVICE_ALL_ACCESS);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(sim::OpenServiceHandleCount(), 3);
  EXPECT_FALSE(DeleteService(manager)) << "not a service handle";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(DeleteService(first));
  EXPECT_FALSE(ServiceExists("RX90K"));
  EXPECT_FALSE(DeleteService(second));
  EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
  EXPECT_EQ(OpenServiceA(manager, "RX90K", SERVICE_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);

  EXPECT_TRUE(CloseServiceHandle(second));
  EXPECT_TRUE(CloseServiceHandle(first));
  EXPECT_TRUE(CloseServiceHandle(manager));
  EXPECT_FALSE(CloseServiceHandle(manager));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  sim::FailCall("OpenSCManagerA", sim::Fault{});
  EXPECT_EQ(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ExpectNoOpenHandles();
}

}  // namespace
