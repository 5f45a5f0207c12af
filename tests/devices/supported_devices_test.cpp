// Matching against the built-in table and the registry list, and reading that list
// under its name and data capacities.
#include "devices/supported_devices.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/sim_machine.h"

namespace {

constexpr const char* kListPath = "SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices";

using Pairs = std::vector<std::pair<uint32_t, uint32_t>>;

TEST(IsSupportedDevice, BuiltInTableCoversOneVendorOnly) {
  const uint32_t builtIn[] = {0x3A02, 0x3A07, 0x3A15, 0x4C21, 0x4C40, 0x4C41, 0x4C42, 0x4C43,
                              0x4C44, 0x4C45, 0x4C46, 0x4C47, 0x5B10, 0x6E03, 0x7D31};
  for (uint32_t device : builtIn) {
    EXPECT_TRUE(IsSupportedDevice(0x1E7C, device, nullptr, 0)) << std::hex << device;
    EXPECT_FALSE(IsSupportedDevice(0x8086, device, nullptr, 0)) << std::hex << device;
  }
  EXPECT_FALSE(IsSupportedDevice(0x1E7C, 0x4C48, nullptr, 0));
  EXPECT_FALSE(IsSupportedDevice(0x1E7C, 0, nullptr, 0));
  EXPECT_FALSE(IsSupportedDevice(0, 0, nullptr, 0));
}

TEST(IsSupportedDevice, ListMatchesWholePairsWithinItsCount) {
  const DevicePair list[] = {{0x8086, 0x10D3}, {0x10EC, 0x8168}, {0x14E4, 0x1677}};
  EXPECT_TRUE(IsSupportedDevice(0x8086, 0x10D3, list, 3));
  EXPECT_TRUE(IsSupportedDevice(0x14E4, 0x1677, list, 3)) << "the last entry counts";
  EXPECT_FALSE(IsSupportedDevice(0x8086, 0x8168, list, 3)) << "vendor of one entry, device of another";
  EXPECT_FALSE(IsSupportedDevice(0x14E4, 0x1677, list, 2)) << "entries past the count are not read";
  EXPECT_FALSE(IsSupportedDevice(0x8086, 0x10D3, list, 0));
  EXPECT_TRUE(IsSupportedDevice(0x1E7C, 0x4C43, list, 3)) << "the built-in table still applies";
}

class SupportedDeviceListTest : public SimMachineTest {
 protected:
  void AddEntry(const std::string& vendor, const std::string& device) {
    SetString(std::string(kListPath) + "\\" + vendor, device, "");
  }

  // Reads the list, frees it and returns its pairs; `found` tells whether there was a list.
  Pairs Read(bool* found = nullptr) {
    uint32_t count = 12345;
    SupportedDeviceList list = ReadSupportedDeviceList(&count);
    if (found != nullptr) *found = list != nullptr;
    Pairs pairs;
    if (list == nullptr) {
      EXPECT_EQ(count, 12345u) << "no list leaves the count alone";
    }
    for (uint32_t i = 0; list != nullptr && i < count; ++i)
      pairs.emplace_back(list[i].vendorId, list[i].deviceId);
    std::free(list);
    ExpectNoOpenHandles();
    return pairs;
  }
};

TEST_F(SupportedDeviceListTest, NoKeyOrNoEntriesMeansNoList) {
  bool found = true;
  Read(&found);
  EXPECT_FALSE(found);

  CreateKey(std::string(kListPath) + "\\8086");  // a vendor with no devices
  Read(&found);
  EXPECT_FALSE(found);
}

TEST_F(SupportedDeviceListTest, ReadsEveryVendorAndDeviceByTheirFirstFourDigits) {
  AddEntry("8086", "10D3");
  AddEntry("8086", "10d4 spare port");
  AddEntry("abcd", "Ef01");
  SetValueBytes(std::string(kListPath) + "\\abcd", "0001", 4 /* REG_DWORD */, {1, 0, 0, 0});
  EXPECT_EQ(Read(), (Pairs{{0x8086, 0x10D3}, {0x8086, 0x10D4}, {0xABCD, 0xEF01}, {0xABCD, 0x0001}}))
      << "type and data of the values are ignored";
}

TEST_F(SupportedDeviceListTest, NamesThatAreNotFourHexDigitsAddNothing) {
  AddEntry("GGGG", "1234");  // a mistyped vendor
  AddEntry("12", "1234");    // a short vendor
  AddEntry("1111", "zzzz");  // a mistyped device, before a good one
  AddEntry("1111", "2222");
  AddEntry("1111", "22");
  // Both passes skip the same names: a counting pass that counted the bad names, or a
  // filling pass that kept them, would lose or misplace the good pair.
  EXPECT_EQ(Read(), (Pairs{{0x1111, 0x2222}}));

  AddEntry("0000", "0000");
  EXPECT_EQ(Read(), (Pairs{{0x0000, 0x0000}, {0x1111, 0x2222}})) << "zero written as digits is kept";
}

TEST_F(SupportedDeviceListTest, OnlyBadNamesMeanNoList) {
  AddEntry("VEN_", "DEV_");
  AddEntry("8086", "x");
  bool found = true;
  Read(&found);
  EXPECT_FALSE(found);
}

TEST_F(SupportedDeviceListTest, ValueTooLargeEndsItsSubkey) {
  const std::string vendor = std::string(kListPath) + "\\1111";
  SetString(vendor, "0001", "");
  SetValueBytes(vendor, "0002", 3 /* REG_BINARY */, std::vector<uint8_t>(512, 0xAA));
  SetValueBytes(vendor, "0003", 3, std::vector<uint8_t>(513, 0xAA));
  SetString(vendor, "0004", "");
  SetString(vendor, "0005" + std::string(507, 'n'), "");  // 511 characters: fits
  const std::string nextVendor = std::string(kListPath) + "\\2222";
  SetString(nextVendor, "0001", "");
  SetString(nextVendor, "0002" + std::string(508, 'n'), "");  // 512 characters: too long
  SetString(nextVendor, "0003", "");
  AddEntry("3333", "0001");
  EXPECT_EQ(Read(), (Pairs{{0x1111, 0x0001}, {0x1111, 0x0002}, {0x2222, 0x0001}, {0x3333, 0x0001}}));
}

TEST_F(SupportedDeviceListTest, DeviceNameTooLongEndsItsSubkeyOnly) {
  AddEntry("1111", "0001");
  AddEntry("1111", "0002" + std::string(507, 'n'));  // 511 characters: fits
  AddEntry("1111", "0003" + std::string(508, 'n'));  // 512 characters: too long
  AddEntry("1111", "0004");
  AddEntry("2222", "0001");
  EXPECT_EQ(Read(), (Pairs{{0x1111, 0x0001}, {0x1111, 0x0002}, {0x2222, 0x0001}}));
}

TEST_F(SupportedDeviceListTest, VendorNameTooLongEndsTheWholeList) {
  AddEntry("1111", "0001");
  AddEntry("1112" + std::string(123, 'v'), "0001");  // 127 characters: fits
  AddEntry("2222" + std::string(124, 'v'), "0001");  // 128 characters: too long
  AddEntry("3333", "0001");
  EXPECT_EQ(Read(), (Pairs{{0x1111, 0x0001}, {0x1112, 0x0001}}));
}

TEST_F(SupportedDeviceListTest, VendorThatCannotBeOpenedIsSkipped) {
  AddEntry("1111", "0001");
  AddEntry("2222", "0001");
  AddEntry("3333", "0001");
  // Opening the list is the first open; 2222 is the third in the counting pass and
  // the sixth in the filling pass.
  sim::FailCall("RegOpenKeyExA", sim::Fault{}, 3);
  sim::FailCall("RegOpenKeyExA", sim::Fault{}, 6);
  EXPECT_EQ(Read(), (Pairs{{0x1111, 0x0001}, {0x3333, 0x0001}}));
}

TEST_F(SupportedDeviceListTest, ListThatGrowsBetweenThePassesDropsTheSurplus) {
  AddEntry("1111", "0001");
  AddEntry("1111", "0002");
  // The counting pass enumerates subkeys twice (1111, then the end); the filling
  // pass starts with the third enumeration.
  sim::BeforeCall("RegEnumKeyExA", 3, [this] {
    AddEntry("0000", "0009");
    AddEntry("1111", "0003");
  });
  EXPECT_EQ(Read(), (Pairs{{0x0000, 0x0009}, {0x1111, 0x0001}}))
      << "the array holds what was counted, filled in the new order";
}

TEST_F(SupportedDeviceListTest, ListThatShrinksBetweenThePassesGivesAShorterCount) {
  AddEntry("1111", "0001");
  AddEntry("2222", "0001");
  AddEntry("2222", "0002");
  sim::BeforeCall("RegEnumKeyExA", 4, [] {
    sim::DeleteSubkeyTree(*sim::FindKeyPath(sim::TheMachine().localMachine, kListPath), "2222");
  });
  EXPECT_EQ(Read(), (Pairs{{0x1111, 0x0001}}));
}

TEST_F(SupportedDeviceListTest, UnloadableKeyPathOrUnopenableKeyMeansNoList) {
  AddEntry("1111", "0001");
  bool found = true;
  sim::FailCall("LoadStringA", sim::Fault{});
  Read(&found);
  EXPECT_FALSE(found);
  sim::ClearFaults();

  sim::FailCall("RegOpenKeyExA", sim::Fault{}, 1);
  Read(&found);
  EXPECT_FALSE(found);
}

}  // namespace
