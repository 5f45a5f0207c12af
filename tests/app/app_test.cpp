// The command-line tail, the string table and the order of steps of each mode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/options.h"
#include "app/resource_strings.h"
#include "app/run_installer.h"
#include "platform/text.h"
#include "tests/support/sim_machine.h"

namespace {

TEST(CommandOptions, PlainCaseSensitiveSubstringsOutsideTheInfArgument) {
  const std::string longName(600, 'a');
  struct Case {
    std::string tail;
    RunMode mode;
    bool record;
    std::string inf;
  };
  const Case cases[] = {
      {"", RunMode::Default, false, ""},
      {"x/auto", RunMode::Default, true, ""},
      {"/AU /U /INF=a.inf", RunMode::Default, false, ""},
      {"/au /update", RunMode::Uninstall, true, ""},
      {"/u /inf=a.inf", RunMode::Uninstall, false, ""},
      {"/inf=a.inf /u", RunMode::Uninstall, false, ""},
      {"/inf= \t\r\n\v\fa.inf\tb", RunMode::SingleInf, false, "a.inf"},
      {"/inf=\"my a.inf\"", RunMode::SingleInf, false, "\"my"},
      {"x/inf=a.inf /inf=b.inf", RunMode::SingleInf, false, "a.inf"},
      {"/au /inf=   ", RunMode::SingleInf, true, ""},
      {"/inf=", RunMode::SingleInf, false, ""},
      // The argument is a path: C:/updates/audio.inf holds "/u" and "/au" but selects nothing.
      {"/inf=C:/updates/audio.inf", RunMode::SingleInf, false, "C:/updates/audio.inf"},
      {"/inf=" + longName + "/u/au /au", RunMode::SingleInf, true, longName.substr(0, 511)},
      {"/inf=" + longName.substr(0, 511), RunMode::SingleInf, false, longName.substr(0, 511)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tail.substr(0, 40));
    char inf[512] = "untouched";
    const CommandOptions options = ReadCommandOptions(c.tail.c_str(), inf, sizeof inf);
    EXPECT_EQ(options.mode, c.mode);
    EXPECT_EQ(options.recordMode, c.record);
    EXPECT_EQ(inf, c.mode == RunMode::SingleInf ? c.inf : "untouched");
  }
}

TEST(BoundedText, RefusesWhatDoesNotFitAndKeepsTheDestination) {
  char buffer[8] = "keep";
  EXPECT_FALSE(TextCopy(buffer, "12345678"));
  EXPECT_TRUE(TextAppend(buffer, "123"));
  EXPECT_FALSE(TextAppend(buffer, "4"));
  EXPECT_FALSE(TextJoin(buffer, "C:", "\\", "pkg\\x"));
  EXPECT_STREQ(buffer, "keep123");
  char unterminated[4] = {'x', 'x', 'x', 'x'};
  EXPECT_FALSE(TextAppend(unterminated, ""));
}

// The log reduced to the milestones that show which step ran: each device pass opens
// its class, the clean-up opens the records, each install pre-installs, and the
// uninstall deletes key trees.
std::vector<std::string> Milestones() {
  std::vector<std::string> steps;
  bool installing = false;
  for (const sim::CallRecord& call : sim::CallLog()) {
    std::string step;
    if (call.name == "SetupDiGetClassDevsA") {
      step = call.detail.find("4D36E972") != std::string::npos ? "devices:net" : "devices:other";
    } else if (call.name == "RegOpenKeyExA" && call.detail.find("Parameters") != std::string::npos) {
      step = installing ? "" : "cleanup";
    } else if (call.name == "SetupCopyOEMInfA") {
      installing = true;
      const std::string source = call.detail.substr(0, call.detail.rfind(" style="));
      step = "install:" + source.substr(source.find_last_of('\\') + 1);
    } else if (call.name == "SHDeleteKeyA") {
      step = "uninstall";
    }
    if (!step.empty() && (steps.empty() || steps.back() != step)) steps.push_back(step);
  }
  return steps;
}

using RunInstallerTest = SimMachineTest;

TEST_F(RunInstallerTest, EveryModeClearsFirstThenRunsItsOwnSteps) {
  const auto cleared = [](std::vector<std::string> own) {
    own.insert(own.begin(), {"devices:net", "devices:other", "cleanup"});
    return own;
  };
  struct Case {
    const char* tail;
    bool stringsLoad;
    std::vector<std::string> steps;
  };
  const Case cases[] = {
      {"", true, cleared({"install:net7341a.inf", "install:net73417.inf"})},
      {"/au", true, cleared({"install:net7341a.inf", "install:net73417.inf"})},
      {"/inf=x.inf", true, cleared({"install:x.inf"})},
      {"/au /u", true, cleared({"uninstall"})},
      {"/u /inf=x.inf", true, cleared({"uninstall"})},
      // Without strings the clean-up and the key removal give up; the device passes run.
      {"/u", false, {"devices:net", "devices:other"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tail);
    // Records of an earlier install, so that the clean-up shows in the log.
    SetString(where::kParametersKey, "RenamedInf", "C:\\Windows\\INF\\oem0.inf");
    sim::ResetCalls();
    if (!c.stringsLoad) sim::FailCall("LoadStringA", {});
    RunState state{};
    EXPECT_EQ(RunInstaller(state, c.tail), 1);
    EXPECT_EQ(Milestones(), c.steps);
  }
}

// Entries load in the order 1, 2, 3, 4, 11, 5, 7, 8, 9, 10; a missing one stops the
// load, and the entries after it keep what they held.
TEST_F(RunInstallerTest, StringsLoadInTableOrderAndStopAtTheFirstMissing) {
  for (uint32_t missing = 1; missing <= 11; ++missing) {
    SCOPED_TRACE("load " + std::to_string(missing) + " fails");
    RunState state{};
    const char* inOrder[] = {state.VendorKey,        state.ProductName, state.Parameters,   state.RenamedInf,
                             state.RenamedInf1,      state.ServiceName, state.UninstallKey, state.DisplayName,
                             state.UninstallCommand, state.Version};
    sim::ResetCalls();
    sim::FailCall("LoadStringA", {}, missing);
    EXPECT_EQ(LoadResourceStrings(state), missing == 11);
    for (uint32_t i = 0; i < 10; ++i) EXPECT_EQ(inOrder[i][0] != '\0', i + 1 < missing) << "entry " << i;
  }
}

}  // namespace
