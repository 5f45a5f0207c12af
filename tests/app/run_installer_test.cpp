// The order of steps of each mode, read from the simulated machine's call log, and
// the string load with its partial failure.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/resource_strings.h"
#include "app/run_installer.h"
#include "tests/support/sim_machine.h"

namespace {

// The log reduced to the milestones that show which step ran: each device pass opens
// its class, the clean-up opens the product's records, each install pre-installs once
// per style, and the uninstall deletes key trees.
std::vector<std::string> Milestones() {
  std::vector<std::string> steps;
  auto add = [&steps](const std::string& step) {
    if (steps.empty() || steps.back() != step) steps.push_back(step);
  };
  bool seenInstall = false;
  for (const sim::CallRecord& call : sim::CallLog()) {
    const std::string& detail = call.detail;
    if (call.name == "SetupDiGetClassDevsA") {
      add(detail.find("4D36E972") != std::string::npos ? "devices:net" : "devices:other");
    } else if (call.name == "RegOpenKeyExA" && detail.find("Parameters") != std::string::npos && !seenInstall) {
      add("cleanup");
    } else if (call.name == "SetupCopyOEMInfA") {
      seenInstall = true;
      // "<source path> style=<hex>": the step is named by the INF's file name.
      const std::string source = detail.substr(0, detail.rfind(" style="));
      add("install:" + source.substr(source.find_last_of('\\') + 1));
    } else if (call.name == "SHDeleteKeyA") {
      add("uninstall");
    }
  }
  return steps;
}

class RunInstallerTest : public SimMachineTest {
 protected:
  // A recorded install left records, so that the clean-up step shows in the log.
  void SeedEarlierRecordedInstall() {
    SetString("SOFTWARE\\Orvix\\qnetprep\\Parameters", "RenamedInf", "C:\\Windows\\INF\\oem0.inf");
    WriteFile("C:\\Windows\\INF\\oem0.inf", "[Version]\n");
  }
  RunState state_{};
};

TEST_F(RunInstallerTest, EveryModeClearsFirstThenRunsItsOwnSteps) {
  struct Case {
    const char* tail;
    std::vector<std::string> steps;
  };
  const Case cases[] = {
      {"", {"devices:net", "devices:other", "cleanup", "install:net7341a.inf", "install:net73417.inf"}},
      {"/au", {"devices:net", "devices:other", "cleanup", "install:net7341a.inf", "install:net73417.inf"}},
      {"/inf=x.inf", {"devices:net", "devices:other", "cleanup", "install:x.inf"}},
      {"/au /u", {"devices:net", "devices:other", "cleanup", "uninstall"}},
      {"/u /inf=x.inf", {"devices:net", "devices:other", "cleanup", "uninstall"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tail);
    SeedEarlierRecordedInstall();
    sim::ResetCalls();
    RunState state{};
    EXPECT_EQ(RunInstaller(state, c.tail), 1);
    EXPECT_EQ(Milestones(), c.steps);
    ExpectNoOpenHandles();
  }
}

TEST_F(RunInstallerTest, StringsLoadInTableOrderAndStopAtTheFirstMissing) {
  EXPECT_TRUE(LoadResourceStrings(state_));
  EXPECT_STREQ(state_.VendorKey, "Software\\Orvix");
  EXPECT_STREQ(state_.ProductName, "qnetprep");
  EXPECT_STREQ(state_.Parameters, "Parameters");
  EXPECT_STREQ(state_.RenamedInf, "RenamedInf");
  EXPECT_STREQ(state_.RenamedInf1, "RenamedInf1");
  EXPECT_STREQ(state_.ServiceName, "RX90K");
  EXPECT_STREQ(state_.UninstallKey, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
  EXPECT_STREQ(state_.DisplayName, "Orvix adapter installation program");
  EXPECT_STREQ(state_.UninstallCommand, "qnetprep.exe /u");
  EXPECT_STREQ(state_.Version, "0.0.3.6");

  // Entry 11 is the fifth to load: a table without it yields entries 1 to 4 only.
  RunState partial{};
  std::strcpy(partial.Version, "earlier");
  sim::ResetCalls();
  sim::FailCall("LoadStringA", {}, 5);
  EXPECT_FALSE(LoadResourceStrings(partial));
  EXPECT_STREQ(partial.VendorKey, "Software\\Orvix");
  EXPECT_STREQ(partial.RenamedInf, "RenamedInf");
  EXPECT_STREQ(partial.RenamedInf1, "");
  EXPECT_STREQ(partial.ServiceName, "");
  EXPECT_STREQ(partial.Version, "earlier") << "entries after the failure keep what they held";
}

TEST_F(RunInstallerTest, WithoutStringsTheUninstallRemovesNoKeysAndNoService) {
  SeedEarlierRecordedInstall();
  SetString("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumora", "DisplayName", "Lumora");
  AddService("RX90K");
  sim::FailCall("LoadStringA", {});
  EXPECT_EQ(RunInstaller(state_, "/u"), 1);
  EXPECT_EQ(Milestones(), (std::vector<std::string>{"devices:net", "devices:other"}));
  EXPECT_TRUE(ServiceExists("RX90K")) << "no service name, no service deleted";
  EXPECT_TRUE(KeyExists("SOFTWARE\\Orvix\\qnetprep\\Parameters"));
  EXPECT_TRUE(KeyExists("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumora"));
  ExpectNoOpenHandles();
}

}  // namespace
