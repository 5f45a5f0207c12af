// Which devices are supported: the hexadecimal fields, the built-in table and the
// supported-device list in the registry, read under its name and data capacities.
#include "devices/supported_devices.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "devices/hex_field.h"
#include "tests/support/sim_machine.h"

namespace {

// The pass looks devices up in the sorted list; it must answer exactly as the plain walk
// does, for lists with repeats, for the built-in table and for pairs near the edges.
TEST(SortedLookup, AnswersAsThePlainWalkDoes) {
  std::srand(7);
  for (uint32_t size : {0u, 1u, 2u, 3u, 17u, 256u}) {
    std::vector<DevicePair> list(size);
    for (DevicePair& pair : list) pair = {0x1E7Cu + std::rand() % 3, 0x4C40u + std::rand() % 200};
    std::vector<DevicePair> sorted = list;
    SortSupportedDeviceList(sorted.data(), size);
    for (uint32_t vendor = 0x1E7B; vendor <= 0x1E7F; ++vendor) {
      for (uint32_t device = 0x4C30; device <= 0x4D10; ++device) {
        SCOPED_TRACE(testing::Message() << size << " entries, " << std::hex << vendor << ":" << device);
        EXPECT_EQ(IsSupportedDeviceInSortedList(vendor, device, size ? sorted.data() : nullptr, size),
                  IsSupportedDevice(vendor, device, size ? list.data() : nullptr, size));
      }
    }
  }
}

TEST(HexField, TheFirstCountCharactersAsHexadecimalOrNoField) {
  struct Case {
    const char* text;
    int count;
    bool field;
    uint32_t value;
  };
  // The last: digits after the end of the text are never reached.
  const Case cases[] = {
      {"1e7C", 4, true, 0x1E7C}, {"ABCDEF", 4, true, 0xABCD},  {"09af", 2, true, 0x09}, {"0000", 4, true, 0},
      {"1E7G", 4, false, 0},     {"G1E7", 4, false, 0},        {"0x1E", 4, false, 0},   {"1E", 4, false, 0},
      {"", 4, false, 0},         {"1E7\0004C43", 4, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    uint32_t value = 77;
    EXPECT_EQ(ReadHexField(c.text, c.count, &value), c.field);
    EXPECT_EQ(value, c.field ? c.value : 77u) << "a non-field leaves the value alone";
    EXPECT_EQ(ParseHexField(c.text, c.count), static_cast<int32_t>(c.value));
  }
}

TEST(IsSupportedDevice, BuiltInTableOrWholePairsOfTheListWithinItsCount) {
  EXPECT_TRUE(IsSupportedDevice(0x1E7C, 0x3A02, nullptr, 0));
  EXPECT_TRUE(IsSupportedDevice(0x1E7C, 0x4C43, nullptr, 0));
  EXPECT_TRUE(IsSupportedDevice(0x1E7C, 0x7D31, nullptr, 0));
  EXPECT_FALSE(IsSupportedDevice(0x1E7C, 0x4C48, nullptr, 0));
  EXPECT_FALSE(IsSupportedDevice(0x8086, 0x4C43, nullptr, 0));

  const DevicePair list[] = {{0x8086, 0x10D3}, {0x10EC, 0x8168}, {0x14E4, 0x1677}};
  EXPECT_TRUE(IsSupportedDevice(0x14E4, 0x1677, list, 3));
  EXPECT_FALSE(IsSupportedDevice(0x8086, 0x8168, list, 3)) << "vendor of one entry, device of another";
  EXPECT_FALSE(IsSupportedDevice(0x14E4, 0x1677, list, 2)) << "entries past the count are not read";
  EXPECT_TRUE(IsSupportedDevice(0x1E7C, 0x4C43, list, 3));
}

using Pairs = std::vector<std::pair<uint32_t, uint32_t>>;

class SupportedDeviceListTest : public SimMachineTest {
 protected:
  void AddEntry(const std::string& vendor, const std::string& device) {
    SetString(std::string(where::kSupportedList) + "\\" + vendor, device, "");
  }

  // Reads the list and frees it; `found` tells whether there was a list at all.
  Pairs Read(bool* found = nullptr) {
    uint32_t count = 12345;
    SupportedDeviceList list = ReadSupportedDeviceList(&count);
    if (found != nullptr) *found = list != nullptr;
    EXPECT_TRUE(list != nullptr || count == 12345u) << "no list leaves the count alone";
    Pairs pairs;
    for (uint32_t i = 0; list != nullptr && i < count; ++i)
      pairs.emplace_back(list[i].vendorId, list[i].deviceId);
    std::free(list);
    return pairs;
  }
};

TEST_F(SupportedDeviceListTest, NoEntriesOnlyBadNamesNoStringOrNoKeyMeanNoList) {
  bool found = true;
  CreateKey(std::string(where::kSupportedList) + "\\8086");  // a vendor with no devices
  Read(&found);
  EXPECT_FALSE(found);
  AddEntry("VEN_", "0001");
  AddEntry("8086", "x");
  Read(&found);
  EXPECT_FALSE(found) << "only bad names";
  AddEntry("1111", "0001");
  for (const char* failedCall : {"LoadStringA", "RegOpenKeyExA"}) {
    sim::ResetCalls();
    sim::FailCall(failedCall, {}, 1);
    Read(&found);
    EXPECT_FALSE(found) << failedCall;
  }
}

TEST_F(SupportedDeviceListTest, PairsComeFromTheFirstFourHexDigitsOfEachName) {
  AddEntry("8086", "10d4 spare port");
  SetValueBytes(std::string(where::kSupportedList) + "\\abcd", "Ef01", 4 /* REG_DWORD */, {1, 0, 0, 0});
  AddEntry("GGGG", "1234");  // a mistyped vendor
  AddEntry("12", "1234");    // a short vendor
  AddEntry("1111", "zzzz");  // a mistyped device, before a good one: both passes skip it
  AddEntry("1111", "2222");
  AddEntry("0000", "0000");  // zero written as digits is kept
  EXPECT_EQ(Read(), (Pairs{{0, 0}, {0x1111, 0x2222}, {0x8086, 0x10D4}, {0xABCD, 0xEF01}}));
}

TEST_F(SupportedDeviceListTest, WhatDoesNotFitEndsItsSubkeyOrTheWholeList) {
  const std::string first = std::string(where::kSupportedList) + "\\1111";
  SetValueBytes(first, "0001", 3 /* REG_BINARY */, std::vector<uint8_t>(512, 0xAA));
  SetString(first, "0002" + std::string(507, 'n'), "");  // 511 characters: fits
  SetValueBytes(first, "0003", 3, std::vector<uint8_t>(513, 0xAA));
  SetString(first, "0004", "");
  AddEntry("2222", "0001");
  AddEntry("2222", "0002" + std::string(508, 'n'));  // 512 characters: too long
  AddEntry("2222", "0003");
  AddEntry("3333" + std::string(123, 'v'), "0001");  // 127 characters: fits
  AddEntry("4444" + std::string(124, 'v'), "0001");  // 128 characters: too long
  AddEntry("5555", "0001");
  EXPECT_EQ(Read(), (Pairs{{0x1111, 1}, {0x1111, 2}, {0x2222, 1}, {0x3333, 1}}));
}

TEST_F(SupportedDeviceListTest, AVendorThatCannotBeOpenedIsSkipped) {
  AddEntry("1111", "0001");
  AddEntry("2222", "0001");
  AddEntry("3333", "0001");
  // Opening the list is the first open; 2222 is the third in the counting pass and
  // the sixth in the filling pass.
  sim::FailCall("RegOpenKeyExA", {}, 3);
  sim::FailCall("RegOpenKeyExA", {}, 6);
  EXPECT_EQ(Read(), (Pairs{{0x1111, 1}, {0x3333, 1}}));
}

TEST_F(SupportedDeviceListTest, AListThatChangesBetweenThePassesFillsAtMostWhatWasCounted) {
  AddEntry("1111", "0001");
  AddEntry("2222", "0001");
  // The counting pass enumerates subkeys three times (1111, 2222, the end).
  sim::BeforeCall("RegEnumKeyExA", 4, [this] {
    AddEntry("0000", "0009");
    AddEntry("1111", "0003");
  });
  EXPECT_EQ(Read(), (Pairs{{0, 9}, {0x1111, 1}})) << "the array holds what was counted, in the new order";

  sim::ResetCalls();
  sim::BeforeCall("RegEnumKeyExA", 5, [] {
    sim::DeleteSubkeyTree(*sim::FindKeyPath(sim::TheMachine().localMachine, where::kSupportedList), "1111");
  });
  EXPECT_EQ(Read(), (Pairs{{0, 9}, {0x2222, 1}})) << "a shorter count";
}

TEST_F(SupportedDeviceListTest, EveryFailedCallReleasesTheList) {
  ExpectHandlesClosedWhenAnyCallFails([this] { AddEntry("1111", "0001"); }, [this] { Read(); });
}

}  // namespace
