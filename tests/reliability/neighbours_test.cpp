// A machine full of neighbours - other vendors, other products of the same vendor,
// other Add/Remove entries, INF files, services, devices and files - keeps every one of
// them through every mode, except the "Lumora" entry that an uninstall removes by name.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/sim/file_attributes.h"
#include "tests/reliability/reliability_machine.h"

namespace {

class NeighbourTest : public ReliabilityTest, public ::testing::WithParamInterface<RunMode> {};

TEST_P(NeighbourTest, EveryNeighbourOutlivesTheRunWhileTheRunDoesItsOwnWork) {
  const RunMode& mode = GetParam();
  PrepareTemplate(mode);
  OpenTemplateCopy();
  const ProductFootprint footprint = FootprintFor(mode);
  const MachineState before = CaptureMachineState();
  for (const std::string& neighbour : NeighbourEntries()) ASSERT_EQ(before.count(neighbour), 1u) << neighbour;
  ASSERT_EQ(before.count(kLumoraEntry), 1u);

  const HandleCounts handles = CurrentHandles();
  EXPECT_EQ(Run(mode.tail), 1);
  EXPECT_EQ(HandlesLeftSince(handles), "");
  const MachineState after = CaptureMachineState();

  for (const std::string& neighbour : NeighbourEntries()) {
    const auto found = after.find(neighbour);
    ASSERT_NE(found, after.end()) << "lost: " << neighbour;
    EXPECT_EQ(found->second, before.at(neighbour)) << "changed: " << neighbour;
  }
  EXPECT_EQ(after.count(kLumoraEntry), footprint.uninstall ? 0u : 1u);
  EXPECT_EQ(DescribeAll(ChangesOutsideFootprint(Differences(before, after), after, footprint)), "");

  // Nothing was kept by doing nothing: the run removed the supported adapters and the
  // service, and installed or uninstalled.
  for (const std::string& device : OwnDevices()) EXPECT_FALSE(DeviceExists(device)) << device;
  EXPECT_FALSE(ServiceExists("RX90K"));
  if (footprint.uninstall) {
    EXPECT_FALSE(KeyExists("SOFTWARE\\Orvix\\qnetprep"));
    EXPECT_FALSE(KeyExists(std::string(kUninstallListKey) + "\\qnetprep"));
  } else {
    EXPECT_TRUE(FileExists("C:\\Windows\\INF\\oem0.inf"));
    EXPECT_TRUE(FileExists("C:\\Program Files\\Orvix\\qnetprep\\net7341a.inf"));
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, NeighbourTest, ::testing::ValuesIn(CoveredModes()), ModeTestName);

// The footprint check that every reliability test relies on tells the installer's own
// changes from anyone else's.
TEST_F(ReliabilityTest, TheFootprintCheckTellsOwnChangesFromForeignOnes) {
  const RunMode record{"record", "/au", false};
  const RunMode uninstall{"uninstall", "/u", false};
  PrepareTemplate(record);
  struct Case {
    const char* what;
    const RunMode& mode;
    std::function<void()> change;
    bool foreign;
  };
  const Case cases[] = {
      {"an own adapter removed", record,
       [] {
         sim::DeleteSubkeyTree(
             *sim::FindKeyPath(sim::TheMachine().localMachine, "SYSTEM\\CurrentControlSet\\Enum\\PCI"),
             "VEN_1E7C&DEV_4C43&SUBSYS_00011E7C&REV_01");
       },
       false},
      {"another vendor's adapter removed", record,
       [] {
         sim::DeleteSubkeyTree(
             *sim::FindKeyPath(sim::TheMachine().localMachine, "SYSTEM\\CurrentControlSet\\Enum\\PCI"),
             "VEN_8086&DEV_100E&SUBSYS_001E8086&REV_02");
       },
       true},
      {"a value written to the vendor key", record, [this] { SetString("SOFTWARE\\Orvix", "Extra", "x"); },
       true},
      {"a subkey added to the driver's service", record,
       [this] { CreateKey("SYSTEM\\CurrentControlSet\\Services\\RX90K\\Enum"); }, true},
      {"the Lumora entry removed by an install", record,
       [] {
         sim::DeleteSubkeyTree(*sim::FindKeyPath(sim::TheMachine().localMachine, kUninstallListKey),
                               "Lumora");
       },
       true},
      {"the Lumora entry removed by an uninstall", uninstall,
       [] {
         sim::DeleteSubkeyTree(*sim::FindKeyPath(sim::TheMachine().localMachine, kUninstallListKey),
                               "Lumora");
       },
       false},
      {"a stored copy of a package INF", record,
       [this] { WriteFile("C:\\Windows\\INF\\oem9.inf", PackageContent("net73417.inf")); }, false},
      {"a stored copy of a foreign INF", record,
       [this] { WriteFile("C:\\Windows\\INF\\oem9.inf", "[Version]\n"); }, true},
      {"an unrecorded stored INF deleted", record,
       [this] { std::remove(LinuxPath("C:\\Windows\\INF\\netrx.pnf").c_str()); }, true},
      {"a staged file replaced", record,
       [this] { WriteFile("C:\\Program Files\\Orvix\\qnetprep\\notes.txt", "new"); }, true},
      {"a foreign file's attributes cleared in the install folder", record,
       [this] { sim::StoreAttributes(LinuxPath("C:\\Program Files\\Orvix\\qnetprep\\notes.txt"), 0); }, true},
      {"a package file staged", record,
       [this] { WriteFile("C:\\Program Files\\Orvix\\qnetprep\\RX90K.SYS", "x"); }, false},
      {"a file written beside the package", record, [this] { WriteFile("C:\\pkg\\qnetprep.log", "x"); },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpenTemplateCopy();
    const ProductFootprint footprint = FootprintFor(c.mode);
    const MachineState before = CaptureMachineState();
    c.change();
    EXPECT_EQ(ForeignChanges(before, footprint) != "", c.foreign);
  }
}

}  // namespace
