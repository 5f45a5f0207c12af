// Every mode on the field machine: once as it is, where every neighbour must outlive the
// run while the run does its own work; then with every platform call failing in turn,
// and with every call of one name failing for the whole run, as a broken subsystem
// fails. Each run must pass the shared check of CheckedRun.
#include <set>

#include "tests/support/machine.h"

namespace {

using namespace where;

class ModeTest : public MachineTest, public testing::WithParamInterface<Mode> {};

TEST_P(ModeTest, NeighboursOutliveTheRunWhileItDoesItsOwnWork) {
  PrepareTemplate(GetParam());
  OpenCopy();
  const bool uninstall = GetParam().tail == std::string("/u");
  const char* lumora = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumora";
  ASSERT_TRUE(Has(lumora));
  CheckedRun(GetParam().tail);
  // Only the uninstall takes the other entry that it removes by name.
  EXPECT_EQ(Has(lumora), !uninstall);
  EXPECT_FALSE(HasDevice("PCI\\VEN_1E7C&DEV_4C43&SUBSYS_00011E7C&REV_01\\4&1A2B&0&00E0"));
  EXPECT_FALSE(HasDevice("PCI\\VEN_1E7C&DEV_3A02&SUBSYS_00021E7C&REV_02\\4&2B3C&0&00E1"));
  EXPECT_FALSE(HasDevice("PCI\\VEN_ABCD&DEV_1234&SUBSYS_00000000&REV_00\\5&11&0&0010"));
  EXPECT_FALSE(Has("SYSTEM\\CurrentControlSet\\Services\\RX90K"));
  EXPECT_TRUE(Has("SYSTEM\\CurrentControlSet\\Services\\RX90K2"));
  const bool recorded = GetParam().tail == std::string("/au");
  EXPECT_EQ(Has(kProduct), recorded);
  EXPECT_EQ(Has(kEntry), recorded);
  EXPECT_EQ(Exists("C:\\Windows\\INF\\oem0.inf"), !uninstall);
  EXPECT_TRUE(Exists(std::string(kInstall) + "net7341a.inf"));
}

TEST_P(ModeTest, EveryFailingCallEndsCleanAndStaysWithinTheProduct) {
  PrepareTemplate(GetParam());
  OpenCopy();
  sim::ResetCalls();
  Run(GetParam().tail);
  const std::vector<sim::CallRecord> calls = sim::CallLog();
  std::set<std::string> names;
  for (uint32_t k = 1; k <= calls.size(); ++k) {
    const std::string& name = calls[k - 1].name;
    names.insert(name);
    // A text query may also report a buffer too small, which leaves it untouched.
    std::vector<sim::Fault> faults = {sim::Fault{}};
    if (name == "GetEnvironmentVariableA" || name == "GetCurrentDirectoryA" || name == "GetSystemDirectoryA")
      faults.push_back({0, true, name == "GetSystemDirectoryA" ? 512 : MAX_PATH});
    for (const sim::Fault& fault : faults) {
      SCOPED_TRACE("call " + std::to_string(k) + " " + name + " " + calls[k - 1].detail +
                   (fault.useResult ? " returning " + std::to_string(fault.result) : " failing"));
      OpenCopy();
      sim::FailCallNumber(k, fault);
      CheckedRun(GetParam().tail, name, 1);
    }
  }
  for (const std::string& name : names) {
    SCOPED_TRACE("every " + name + " failing");
    OpenCopy();
    sim::FailCall(name, sim::Fault{});
    CheckedRun(GetParam().tail, name, -1);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, ModeTest, testing::ValuesIn(kModes), ModeName);

}  // namespace
