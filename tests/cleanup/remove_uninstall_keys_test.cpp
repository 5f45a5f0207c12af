// The uninstall's whole-tree removal of the product key and both Add/Remove entries.
#include "cleanup/remove_uninstall_keys.h"

#include <gtest/gtest.h>

#include <string>

#include "app/resource_strings.h"
#include "tests/support/sim_machine.h"

namespace {

constexpr const char* kListKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

class RemoveUninstallKeysTest : public SimMachineTest {
 protected:
  void SetUp() override {
    SimMachineTest::SetUp();
    ASSERT_TRUE(LoadResourceStrings(state_));
  }

  std::string Entry(const std::string& name) { return std::string(kListKey) + "\\" + name; }

  // Our keys with more below them than a clean-up could remove one level at a time,
  // among keys of others.
  void SeedInstalledMachine() {
    SetString("SOFTWARE\\Orvix\\qnetprep", "Install", "Success");
    SetString("SOFTWARE\\Orvix\\qnetprep\\Parameters", "RenamedInf", "C:\\Windows\\INF\\oem0.inf");
    CreateKey("SOFTWARE\\Orvix\\qnetprep\\Extra\\Deeper");
    SetString(Entry("qnetprep"), "DisplayName", "Orvix adapter installation program");
    CreateKey(Entry("qnetprep") + "\\Sub");
    SetString(Entry("Lumora"), "DisplayName", "Lumora");
    CreateKey(Entry("Lumora") + "\\Sub");
    SetString("SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices\\1E7C", "4C60", "");
    SetString(Entry("OtherApp"), "DisplayName", "Other");
    CreateKey("SOFTWARE\\Halvex\\qnetprep");
  }

  void ExpectOthersKept() {
    EXPECT_TRUE(KeyExists("SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices\\1E7C"));
    EXPECT_TRUE(KeyExists(Entry("OtherApp")));
    EXPECT_TRUE(KeyExists("SOFTWARE\\Halvex\\qnetprep"));
  }

  RunState state_{};
};

TEST_F(RemoveUninstallKeysTest, RemovesTheProductKeyAndBothEntriesWhole) {
  SeedInstalledMachine();

  RemoveUninstallKeys(state_);

  EXPECT_FALSE(KeyExists("SOFTWARE\\Orvix\\qnetprep"));
  EXPECT_TRUE(KeyExists("SOFTWARE\\Orvix"));
  EXPECT_FALSE(KeyExists(Entry("qnetprep")));
  EXPECT_FALSE(KeyExists(Entry("Lumora")));
  ExpectOthersKept();
  ExpectNoOpenHandles();
}

TEST_F(RemoveUninstallKeysTest, OnAMachineWithoutOurKeysOnlyLumoraGoes) {
  SetString(Entry("Lumora"), "DisplayName", "Lumora");
  SetString(Entry("OtherApp"), "DisplayName", "Other");

  RemoveUninstallKeys(state_);

  EXPECT_FALSE(KeyExists(Entry("Lumora")));
  EXPECT_TRUE(KeyExists(Entry("OtherApp")));
  EXPECT_FALSE(KeyExists("SOFTWARE\\Orvix"));
  ExpectNoOpenHandles();
}

TEST_F(RemoveUninstallKeysTest, AKeyThatCannotBeOpenedSkipsOnlyItsOwnDeletions) {
  SeedInstalledMachine();
  sim::FailCall("RegOpenKeyExA", sim::Fault{ERROR_ACCESS_DENIED}, 1);
  RemoveUninstallKeys(state_);
  EXPECT_TRUE(KeyExists("SOFTWARE\\Orvix\\qnetprep"));
  EXPECT_FALSE(KeyExists(Entry("qnetprep")));
  EXPECT_FALSE(KeyExists(Entry("Lumora")));
  ExpectNoOpenHandles();

  SeedInstalledMachine();
  sim::ResetCalls();
  sim::FailCall("RegOpenKeyExA", sim::Fault{ERROR_ACCESS_DENIED}, 2);
  RemoveUninstallKeys(state_);
  EXPECT_FALSE(KeyExists("SOFTWARE\\Orvix\\qnetprep"));
  EXPECT_TRUE(KeyExists(Entry("qnetprep")));
  EXPECT_TRUE(KeyExists(Entry("Lumora")));
  ExpectNoOpenHandles();
}

TEST_F(RemoveUninstallKeysTest, EveryCallThatFailsLeavesNoHandleOpen) {
  SeedInstalledMachine();
  sim::ResetCalls();
  RemoveUninstallKeys(state_);
  const std::vector<sim::CallRecord> calls = sim::CallLog();
  for (uint32_t k = 1; k <= calls.size(); ++k) {
    // A close that fails leaves its handle open whatever the caller does.
    if (calls[k - 1].name == "RegCloseKey") continue;
    SCOPED_TRACE("call " + std::to_string(k));
    SeedInstalledMachine();
    sim::ResetCalls();
    sim::FailCallNumber(k, sim::Fault{ERROR_ACCESS_DENIED});
    RemoveUninstallKeys(state_);
    ExpectNoOpenHandles();
  }
}

}  // namespace
