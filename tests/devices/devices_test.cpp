// The supported-device list as read from the registry, at its name and data capacities and
// while it changes; the removal pass over each device's own identifier, and its failures.
#include "app/resource_strings.h"
#include "devices/device_classes.h"
#include "devices/remove_devices.h"
#include "devices/supported_devices.h"
#include "tests/support/machine.h"

namespace {

const std::string kList = "SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices";

std::string Pci(const std::string& vendor, const std::string& device) {
  return "PCI\\VEN_" + vendor + "&DEV_" + device + "&SUBSYS_00000000&REV_00\\3&1&0&00";
}

class DevicesTest : public MachineTest {
 protected:
  void List(const std::string& vendor, const std::string& device, size_t data = 0) {
    SetBytes(kList + "\\" + vendor, device, REG_SZ, std::string(data, 'v'));
  }
  // The pairs in the order read, or "none" and the untouched count.
  std::string ReadList(const std::function<void()>& plan = [] {}) {
    sim::ResetCalls();
    plan();
    uint32_t count = 777;
    DevicePair* list = ReadSupportedDeviceList(&count);
    std::string pairs = list == nullptr ? "none " + std::to_string(count) : "";
    for (uint32_t i = 0; list != nullptr && i < count; ++i)
      pairs += testing::PrintToString(std::make_pair(list[i].vendorId, list[i].deviceId));
    std::free(list);
    EXPECT_EQ(sim::OpenRegistryKeyCount(), 0);
    return pairs;
  }
};

TEST_F(DevicesTest, TheListIsReadInRegistryOrderWithinItsCapacitiesAndAsCounted) {
  EXPECT_EQ(ReadList(), "none 777");
  List("Notes", "0001"), List("1234", "notes");
  EXPECT_EQ(ReadList(), "none 777");
  // A vendor name of 128 characters ends the walk over the vendors, a value name of 512
  // characters or data of 513 bytes the walk over a vendor's values.
  for (const std::string& vendor :
       {"0001"s, "ABC"s, "0002x"s, "0003" + std::string(123, 'e'), "FFFE" + std::string(124, 'f'), "FFFF"s})
    List(vendor, "0001");
  for (const std::string& device :
       {"00"s, "00a1"s, "00A2" + std::string(507, 'x'), "0003" + std::string(508, 'x'), "0004"s})
    List("BEEF", device);
  List("CAFE", "0001", 511), List("CAFE", "0002", 512), List("CAFE", "0003", 513), List("CAFE", "0004");
  EXPECT_EQ(ReadList(), "(1, 1)(2, 1)(3, 1)(48879, 161)(48879, 162)(51966, 1)(51966, 2)");
  EXPECT_EQ(ReadList([] { sim::FailCall("LoadStringA", {}); }), "none 777");
  EXPECT_EQ(ReadList([] { sim::FailCall("RegOpenKeyExA", {}, 1); }), "none 777");
  Open();
  List("1111", "0001"), List("2222", "0002"), List("2222", "0003");
  // Opens: the list, 1111 and 2222 to count, then to fill, which fills at most what was
  // counted. The counting pass enumerates the vendors three times.
  EXPECT_EQ(ReadList([] { sim::FailCall("RegOpenKeyExA", {}, 5); }), "(4369, 1)");
  const auto then = [](std::function<void()> change) {
    return [=] { sim::BeforeCall("RegEnumKeyExA", 4, change); };
  };
  EXPECT_EQ(ReadList(then([this] { List("1111", "0009"); })), "(4369, 1)(4369, 9)(8738, 2)");
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
      Pci("1E7C", "4C43"), Pci("1E7D", "0001"),
      Pci("1E7D", "0003"), Pci("1E7D", "0005"),
      Pci("1E7D", "0007"), "PCI\\VEN_1E7C&DEV_4C43&" + std::string(4071, 'f') + "\\1",
      Pci("1E7C", "4C46"), "PCI\\VEN_1E7C\\1",
      "PCI\\VEN_1E7D\\1",  "XYZ\\VEN_1E7C&DEV_4C40\\1"};
  const std::string kept[] = {Pci("1E7D", "0002"), Pci("1E7C", "9999"), Pci("1E7C", "4C47"),
                              "PCI\\VEN_1E7C&DEV_4C41&" + std::string(4072, 't') + "\\1"};
  // The failing call; what the pass returns; how many that it should remove stay; the service.
  const std::tuple<Failing, int32_t, int32_t, bool> cases[] = {
      {{}, 10, 0, false},
      {{"SetupDiGetClassDevsA", 1}, 0, 10, true},
      {{"SetupDiGetDeviceInstanceIdA", 1}, 9, 1, false},
      {{"SetupDiGetDeviceRegistryPropertyA", 1}, 9, 1, false},
      {{"SetupDiRemoveDevice", 2, {0, true, 2}}, 9, 1, false}};
  for (const auto& [failing, counted, left, service] : cases) {
    for (const std::string& id : removed)
      AddDevice(where::kNet, id, id == Pci("1E7C", "4C46") ? std::string(4095, 'd').c_str() : "a");
    for (const std::string& id : kept)
      AddDevice(where::kNet, id, id == Pci("1E7C", "4C47") ? std::string(4096, 'd').c_str() : "a");
    AddDevice(where::kOther, Pci("1E7C", "4C42"));
    AddService("RX90K");
    Fail(failing);
    EXPECT_EQ(RemoveDevicesOfClass(state, GUID_DEVCLASS_NET), counted) << failing.call;
    EXPECT_EQ(
        std::count_if(std::begin(removed), std::end(removed), [this](auto& id) { return HasDevice(id); }),
        left);
    for (const std::string& id : kept) EXPECT_TRUE(HasDevice(id)) << id.substr(0, 30);
    EXPECT_TRUE(HasDevice(Pci("1E7C", "4C42")));
    EXPECT_EQ(Has("SYSTEM\\CurrentControlSet\\Services\\RX90K"), service) << failing.call;
  }
}

}  // namespace
