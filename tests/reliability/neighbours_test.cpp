// A machine full of neighbours - other vendors, other products of the same vendor,
// other Add/Remove entries, INF files, services, devices and files - keeps every one of
// them through every mode, except the "Lumora" entry that an uninstall removes by name.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "tests/reliability/reliability_machine.h"

namespace {

using namespace where;

class NeighbourTest : public ReliabilityTest, public ::testing::WithParamInterface<RunMode> {};

TEST_P(NeighbourTest, EveryNeighbourOutlivesTheRunWhileTheRunDoesItsOwnWork) {
  const RunMode& mode = GetParam();
  PrepareTemplate(mode);
  OpenTemplateCopy();
  const ProductFootprint footprint = FootprintFor(mode.tail);
  const MachineState before = CaptureMachineState();
  for (const std::string& neighbour : NeighbourEntries()) ASSERT_EQ(before.count(neighbour), 1u) << neighbour;
  ASSERT_EQ(before.count(kLumoraEntry), 1u);
  const HandleCounts handles = CurrentHandles();
  EXPECT_EQ(Run(mode.tail), 1);
  EXPECT_EQ(HandlesLeftSince(handles), "");
  const MachineState after = CaptureMachineState();
  for (const std::string& neighbour : NeighbourEntries()) {
    ASSERT_EQ(after.count(neighbour), 1u) << "lost: " << neighbour;
    EXPECT_EQ(after.at(neighbour), before.at(neighbour)) << "changed: " << neighbour;
  }
  EXPECT_EQ(after.count(kLumoraEntry), footprint.uninstall ? 0u : 1u);
  EXPECT_EQ(ForeignChanges(before, footprint), "");
  // Nothing was kept by doing nothing: the run removed the supported adapters and the
  // service, and installed or uninstalled.
  for (const std::string& device : OwnDevices()) EXPECT_FALSE(DeviceExists(device)) << device;
  EXPECT_FALSE(ServiceExists("RX90K"));
  EXPECT_FALSE(footprint.uninstall && (KeyExists(kProductKey) || KeyExists(kEntryKey)));
  EXPECT_EQ(FileExists("C:\\Windows\\INF\\oem0.inf"), !footprint.uninstall);
  EXPECT_TRUE(footprint.uninstall || FileExists(std::string(kInstallFolder) + "net7341a.inf"));
}

INSTANTIATE_TEST_SUITE_P(Modes, NeighbourTest, ::testing::ValuesIn(CoveredModes()), ModeName);

// The footprint check that every reliability test relies on tells the installer's own
// changes from anyone else's.
TEST_F(ReliabilityTest, TheFootprintCheckTellsOwnChangesFromForeignOnes) {
  PrepareTemplate(RunMode{"Record", "/au", false});
  const auto removeKey = [](const char* parent, const char* name) {
    return [parent, name] {
      sim::DeleteSubkeyTree(*sim::FindKeyPath(sim::TheMachine().localMachine, parent), name);
    };
  };
  const char* const pci = "SYSTEM\\CurrentControlSet\\Enum\\PCI";
  const char* const notes = "C:\\Program Files\\Orvix\\qnetprep\\notes.txt";
  const struct {
    const char* tail;
    std::function<void()> change;
    bool foreign;
  } cases[] = {
      {"/au", removeKey(pci, "VEN_1E7C&DEV_4C43&SUBSYS_00011E7C&REV_01"), false},
      {"/au", removeKey(pci, "VEN_8086&DEV_100E&SUBSYS_001E8086&REV_02"), true},
      {"/au", [this] { SetString(kVendorKey, "Extra", "x"); }, true},
      {"/au", [this] { CreateKey("SYSTEM\\CurrentControlSet\\Services\\RX90K\\Enum"); }, true},
      {"/au", removeKey(kListKey, "Lumora"), true},
      {"/u", removeKey(kListKey, "Lumora"), false},
      {"/au", [this] { WriteFile("C:\\Windows\\INF\\oem9.inf", PackageContent("net73417.inf")); }, false},
      {"/au", [this] { WriteFile("C:\\Windows\\INF\\oem9.inf", "[Version]\n"); }, true},
      {"/au", [this] { std::remove(LinuxPath("C:\\Windows\\INF\\netrx.pnf").c_str()); }, true},
      {"/au", [this, notes] { WriteFile(notes, "new"); }, true},
      {"/au", [this, notes] { SetAttributes(notes, 0); }, true},
      {"/au", [this] { WriteFile(std::string(kInstallFolder) + "RX90K.SYS", "x"); }, false},
      {"/au", [this] { WriteFile("C:\\pkg\\qnetprep.log", "x"); }, true},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    OpenTemplateCopy();
    const ProductFootprint footprint = FootprintFor(cases[i].tail);
    const MachineState before = CaptureMachineState();
    cases[i].change();
    EXPECT_EQ(ForeignChanges(before, footprint) != "", cases[i].foreign);
  }
}

}  // namespace
