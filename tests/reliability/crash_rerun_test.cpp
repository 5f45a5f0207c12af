// The built program stopped at each platform call in turn, as a power cut would stop
// it (the machine keeps what was written before the call), then started again in the
// same mode: the machine ends as an uninterrupted run leaves it.
//
// What the records cannot know about: a recorded install stopped after the INF store
// took its copy and before the copy's name reached its record slot leaves a stored
// INF that no record names. Run again in the same mode, the install gets the same
// stored copy back (the store keeps one copy per content) and records it; but an
// uninstall that follows instead, or a later install of a changed package, leaves that
// copy in the store for good.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tests/reliability/program_process.h"
#include "tests/reliability/reliability_machine.h"

namespace {

std::vector<std::string> Arguments(const char* tail) {
  std::vector<std::string> arguments;
  std::istringstream words(tail);
  for (std::string word; words >> word;) arguments.push_back(word);
  return arguments;
}

class CrashRerunTest : public ReliabilityTest, public ::testing::WithParamInterface<RunMode> {
 protected:
  MachineState StateOf(const std::string& machineFolder) {
    sim::OpenMachine(machineFolder, machineFolder + "/drive_c/pkg");
    return CaptureMachineState();
  }
};

TEST_P(CrashRerunTest, ARunStoppedAtAnyCallAndRunAgainEndsAsAnUninterruptedRun) {
  const RunMode& mode = GetParam();
  const std::vector<std::string> arguments = Arguments(mode.tail);
  PrepareTemplate(mode);

  const std::string reference = CopyTemplate("uninterrupted");
  const ProgramRun uninterrupted = RunProgram(reference, arguments, {});
  ASSERT_EQ(uninterrupted.exitCode, 1) << uninterrupted.errors;
  ASSERT_EQ(uninterrupted.errors, "");
  const std::vector<std::string> calls = uninterrupted.calls;
  ASSERT_FALSE(calls.empty());
  const MachineState expected = StateOf(reference);

  for (uint32_t k = 1; k <= calls.size(); ++k) {
    const std::string where = "stopped at call " + std::to_string(k) + ": " + calls[k - 1];
    const std::string machine = CopyTemplate("interrupted");
    const ProgramRun stopped = RunProgram(machine, arguments, {"QNETPREP_CRASH_AT=" + std::to_string(k)});
    ASSERT_EQ(stopped.exitCode, sim::kCrashExitCode) << where << "\n" << stopped.errors;
    ASSERT_EQ(stopped.calls.size(), k) << where;
    const ProgramRun rerun = RunProgram(machine, arguments, {});
    ASSERT_EQ(rerun.exitCode, 1) << where << "\n" << rerun.errors;
    EXPECT_EQ(rerun.errors, "") << where;
    EXPECT_EQ(DescribeAll(Differences(expected, StateOf(machine))), "") << where;
  }
  std::printf("[ crash ] %s: %zu crash points\n", mode.name, calls.size());
}

// Whether the calls before call k left a stored INF copy whose record slot was not yet
// written. Calls are "Name detail" lines of the program's call log.
bool LeavesUnrecordedCopy(const std::vector<std::string>& calls, uint32_t k) {
  bool unrecorded = false;
  for (uint32_t i = 0; i + 1 < k; ++i) {
    const std::string& call = calls[i];
    if (call.rfind("SetupCopyOEMInfA ", 0) == 0 && call.find(" style=0x0") != std::string::npos)
      unrecorded = true;
    if (call.rfind("RegSetValueExA ", 0) == 0 && call.find("Parameters:RenamedInf") != std::string::npos) {
      unrecorded = false;
    }
  }
  return unrecorded;
}

// What an uninstall leaves of an install by design: the staged package and the program's
// copy in the system folder, from which the uninstall itself runs.
bool LeftByDesign(const Change& change) {
  const std::string& entry = change.entry;
  return entry.find(" C:\\Program Files\\Orvix") != std::string::npos ||
         entry.find(" C:\\Windows\\System32\\qnetprep.exe") != std::string::npos;
}

TEST_F(CrashRerunTest, AnUninstallAfterAStoppedInstallLeavesOnlyTheCopyThatNoRecordNames) {
  PrepareTemplate(RunMode{"record", "/au", false});
  const std::string reference = CopyTemplate("never installed");
  ASSERT_EQ(RunProgram(reference, {"/u"}, {}).exitCode, 1);
  const MachineState expected = StateOf(reference);
  const ProgramRun install = RunProgram(CopyTemplate("installed"), {"/au"}, {});
  ASSERT_EQ(install.exitCode, 1);

  int unrecordedCases = 0;
  for (uint32_t k = 1; k <= install.calls.size(); ++k) {
    const std::string where = "stopped at call " + std::to_string(k) + ": " + install.calls[k - 1];
    const std::string machine = CopyTemplate("interrupted");
    ASSERT_EQ(RunProgram(machine, {"/au"}, {"QNETPREP_CRASH_AT=" + std::to_string(k)}).exitCode,
              sim::kCrashExitCode);
    const ProgramRun uninstall = RunProgram(machine, {"/u"}, {});
    ASSERT_EQ(uninstall.exitCode, 1) << where << "\n" << uninstall.errors;
    std::vector<Change> left;
    for (const Change& change : Differences(expected, StateOf(machine))) {
      if (!LeftByDesign(change)) left.push_back(change);
    }
    if (!LeavesUnrecordedCopy(install.calls, k)) {
      EXPECT_EQ(DescribeAll(left), "") << where;
      continue;
    }
    ++unrecordedCases;
    // One stored INF with its PNF, nothing else.
    ASSERT_EQ(left.size(), 2u) << where << "\n" << DescribeAll(left);
    for (const Change& change : left) {
      EXPECT_EQ(change.kind, ChangeKind::kAdded) << where;
      EXPECT_NE(change.entry.find("C:\\Windows\\INF\\oem"), std::string::npos) << where;
    }
  }
  EXPECT_GT(unrecordedCases, 0);
  std::printf("[ crash ] install then uninstall: %zu crash points, %d leave an unrecorded stored INF\n",
              install.calls.size(), unrecordedCases);
}

INSTANTIATE_TEST_SUITE_P(Modes, CrashRerunTest, ::testing::ValuesIn(CoveredModes()), ModeTestName);

}  // namespace
