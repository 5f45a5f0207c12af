// Creating devices on the simulated machine the way the device helper seeds a Windows
// one: SetupDiCreateDeviceInfoA, SetupDiSetDeviceRegistryPropertyA, SetupDiRegisterDeviceInfo.
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/sim_machine.h"

namespace {

constexpr GUID kNetGuid = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr GUID kOtherGuid = {0x4D36E97E, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr const char* kAdapter = "PCI\\VEN_1E7C&DEV_4C43&SUBSYS_73411E7C&REV_10\\4&2B8260C3&0&00E4";

class DeviceCreation : public SimMachineTest {
 protected:
  // "<id> <description or none>" of each present device of the class.
  std::vector<std::string> Present(const GUID& classGuid) {
    std::vector<std::string> devices;
    HDEVINFO set = SetupDiGetClassDevsA(&classGuid, nullptr, nullptr, DIGCF_PRESENT);
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof data;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &data); ++index) {
      char id[512];
      BYTE description[512];
      EXPECT_TRUE(SetupDiGetDeviceInstanceIdA(set, &data, id, sizeof id, nullptr));
      const bool described = SetupDiGetDeviceRegistryPropertyA(set, &data, SPDRP_DEVICEDESC, nullptr,
                                                               description, sizeof description, nullptr);
      devices.push_back(std::string(id) + " " + (described ? reinterpret_cast<char*>(description) : "none"));
    }
    SetupDiDestroyDeviceInfoList(set);
    return devices;
  }

  // Creates and registers one device; "" or the name and error of the call that failed.
  std::string Create(const GUID& classGuid, const char* id, const char* description) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(&classGuid, nullptr);
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof data;
    std::string failed;
    if (!SetupDiCreateDeviceInfoA(set, id, &classGuid, nullptr, nullptr, 0, &data)) {
      failed = "create " + std::to_string(GetLastError());
    } else if (description != nullptr &&
               !SetupDiSetDeviceRegistryPropertyA(set, &data, SPDRP_DEVICEDESC,
                                                  reinterpret_cast<const BYTE*>(description),
                                                  static_cast<DWORD>(std::strlen(description) + 1))) {
      failed = "describe " + std::to_string(GetLastError());
    } else if (!SetupDiRegisterDeviceInfo(set, &data, 0, nullptr, nullptr, nullptr)) {
      failed = "register " + std::to_string(GetLastError());
    }
    SetupDiDestroyDeviceInfoList(set);
    return failed;
  }
};

TEST_F(DeviceCreation, ARegisteredDeviceIsPresentInItsClassOnly) {
  EXPECT_EQ(Create(kNetGuid, kAdapter, "Orvix RX90K"), "");
  EXPECT_EQ(Create(kOtherGuid, "ROOT\\NETADAPTER\\X4C61", nullptr), "");
  EXPECT_EQ(Present(kNetGuid), std::vector<std::string>{std::string(kAdapter) + " Orvix RX90K"});
  EXPECT_EQ(Present(kOtherGuid), std::vector<std::string>{"ROOT\\NETADAPTER\\X4C61 none"});
  EXPECT_EQ(GetString(std::string(sim::kEnumKeyPath) + "\\" + kAdapter, "ClassGUID"),
            "{4D36E972-E325-11CE-BFC1-08002BE10318}");
  ExpectNoOpenHandles();
}

TEST_F(DeviceCreation, ADeviceNeverRegisteredLeavesNoTrace) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(&kNetGuid, nullptr);
  SP_DEVINFO_DATA data;
  data.cbSize = sizeof data;
  ASSERT_TRUE(SetupDiCreateDeviceInfoA(set, kAdapter, &kNetGuid, nullptr, nullptr, 0, &data));
  const char description[] = "pending";
  ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyA(
      set, &data, SPDRP_DEVICEDESC, reinterpret_cast<const BYTE*>(description), sizeof description));
  BYTE read[32];
  EXPECT_TRUE(
      SetupDiGetDeviceRegistryPropertyA(set, &data, SPDRP_DEVICEDESC, nullptr, read, sizeof read, nullptr));
  EXPECT_STREQ(reinterpret_cast<char*>(read), "pending");
  EXPECT_TRUE(Present(kNetGuid).empty());
  // Not in the tree, so there is nothing to remove.
  EXPECT_FALSE(SetupDiRemoveDevice(set, &data));
  EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_DEVINST);
  SetupDiDestroyDeviceInfoList(set);
  EXPECT_FALSE(DeviceExists(kAdapter));
  ExpectNoOpenHandles();
}

TEST_F(DeviceCreation, RefusesWhatWindowsRefuses) {
  ASSERT_EQ(Create(kNetGuid, kAdapter, "first"), "");
  // The same instance again, in any case.
  EXPECT_EQ(Create(kNetGuid, "pci\\ven_1e7c&dev_4c43&subsys_73411e7c&rev_10\\4&2b8260c3&0&00e4", nullptr),
            "create " + std::to_string(ERROR_DEVINST_ALREADY_EXISTS));
  for (const char* id :
       {"PCI\\VEN_1E7C", "PCI\\\\0", "PCI\\VEN 1E7C\\0", "PCI\\A,B\\0", "\\A\\B", "A\\B\\"}) {
    EXPECT_EQ(Create(kNetGuid, id, nullptr), "create " + std::to_string(ERROR_INVALID_DEVINST_NAME)) << id;
  }
  // A set of one class takes no device of another.
  HDEVINFO set = SetupDiCreateDeviceInfoList(&kNetGuid, nullptr);
  SP_DEVINFO_DATA data;
  data.cbSize = sizeof data;
  EXPECT_FALSE(SetupDiCreateDeviceInfoA(set, "ROOT\\X\\0", &kOtherGuid, nullptr, nullptr, 0, &data));
  EXPECT_EQ(GetLastError(), ERROR_CLASS_MISMATCH);
  SetupDiDestroyDeviceInfoList(set);
  EXPECT_EQ(Present(kNetGuid), std::vector<std::string>{std::string(kAdapter) + " first"});
}

// The removal pass removes created devices like any other.
TEST_F(DeviceCreation, ACreatedDeviceCanBeRemoved) {
  ASSERT_EQ(Create(kNetGuid, kAdapter, "Orvix RX90K"), "");
  HDEVINFO set = SetupDiGetClassDevsA(&kNetGuid, nullptr, nullptr, DIGCF_PRESENT);
  SP_DEVINFO_DATA data;
  data.cbSize = sizeof data;
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &data));
  EXPECT_EQ(SetupDiRemoveDevice(set, &data), TRUE);
  SetupDiDestroyDeviceInfoList(set);
  EXPECT_TRUE(Present(kNetGuid).empty());
  EXPECT_EQ(Create(kNetGuid, kAdapter, nullptr), "");
}

}  // namespace
