// Every platform call of a run made to fail in turn, the way Windows fails it: each
// run still ends with exit code 1, releases every handle it opened and changes nothing
// outside the installer's own keys, folders, files, devices and service.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/reliability/reliability_machine.h"

namespace {

// The ways one call may fail. Every call fails with its usual error; calls that fill a
// text buffer may also report that the buffer is too small, which leaves it untouched.
std::vector<sim::Fault> FailuresOf(const std::string& call) {
  std::vector<sim::Fault> failures = {sim::Fault{}};
  if (call == "GetEnvironmentVariableA" || call == "GetCurrentDirectoryA") {
    failures.push_back(sim::Fault{0, true, MAX_PATH + 1});
  } else if (call == "GetSystemDirectoryA") {
    failures.push_back(sim::Fault{0, true, 4 * MAX_PATH});
  }
  return failures;
}

class FaultSweepTest : public ReliabilityTest, public ::testing::WithParamInterface<RunMode> {};

TEST_P(FaultSweepTest, EveryFailingCallEndsCleanAndStaysWithinTheProduct) {
  const RunMode& mode = GetParam();
  PrepareTemplate(mode);

  OpenTemplateCopy();
  const ProductFootprint footprint = FootprintFor(mode);
  const MachineState before = CaptureMachineState();
  const HandleCounts handlesAtStart = CurrentHandles();
  ASSERT_EQ(Run(mode.tail), 1);
  const std::vector<sim::CallRecord> cleanCalls = sim::CallLog();
  ASSERT_EQ(ForeignChanges(before, footprint), "") << "the clean run itself";
  ASSERT_EQ(HandlesLeftSince(handlesAtStart, ""), "") << "the clean run itself";

  int runs = 0;
  for (uint32_t k = 1; k <= cleanCalls.size(); ++k) {
    const sim::CallRecord& call = cleanCalls[k - 1];
    for (const sim::Fault& fault : FailuresOf(call.name)) {
      OpenTemplateCopy();
      const HandleCounts handlesBefore = CurrentHandles();
      sim::FailCallNumber(k, fault);
      const int exitCode = Run(mode.tail);
      ++runs;
      const std::string where = "call " + std::to_string(k) + " " + call.name + " " + call.detail +
                                (fault.useResult ? " returning " + std::to_string(fault.result) : " failing");
      EXPECT_EQ(exitCode, 1) << where;
      EXPECT_TRUE(IsErrorLineOutput(output_)) << where << "\n" << output_;
      EXPECT_EQ(HandlesLeftSince(handlesBefore, call.name), "") << where;
      EXPECT_EQ(ForeignChanges(before, footprint), "") << where;
    }
  }

  // Every call of one name failing for the whole run, as a broken subsystem would fail.
  std::vector<std::string> names;
  for (const sim::CallRecord& call : cleanCalls) {
    if (std::find(names.begin(), names.end(), call.name) == names.end()) names.push_back(call.name);
  }
  for (const std::string& name : names) {
    OpenTemplateCopy();
    const HandleCounts handlesBefore = CurrentHandles();
    sim::FailCall(name, sim::Fault{});
    const int exitCode = Run(mode.tail);
    ++runs;
    const int failedCalls =
        static_cast<int>(std::count_if(sim::CallLog().begin(), sim::CallLog().end(),
                                       [&name](const sim::CallRecord& call) { return call.name == name; }));
    EXPECT_EQ(exitCode, 1) << "every " << name << " failing";
    EXPECT_TRUE(IsErrorLineOutput(output_)) << "every " << name << " failing\n" << output_;
    EXPECT_EQ(HandlesLeftSince(handlesBefore, name, failedCalls), "") << "every " << name << " failing";
    EXPECT_EQ(ForeignChanges(before, footprint), "") << "every " << name << " failing";
  }
  std::printf("[ sweep ] %s: %zu calls in a clean run, %zu call names, %d faulted runs\n", mode.name,
              cleanCalls.size(), names.size(), runs);
}

INSTANTIATE_TEST_SUITE_P(Modes, FaultSweepTest, ::testing::ValuesIn(CoveredModes()), ModeTestName);

}  // namespace
