// Every platform call of a run made to fail in turn, the way Windows fails it: each
// run still ends with exit code 1, releases every handle it opened and changes nothing
// outside the installer's own keys, folders, files, devices and service.
#include <gtest/gtest.h>

#include <cctype>
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

// A close that fails keeps its handle on the simulated machine (Windows never fails
// the close of a valid handle, so nothing could release it). Such a run may leave
// exactly that one handle, and no other.
struct HandleCounts {
  int keys;
  int deviceSets;
  int services;
};

HandleCounts CurrentHandles() {
  return {sim::OpenRegistryKeyCount(), sim::OpenDeviceSetCount(), sim::OpenServiceHandleCount()};
}

std::string HandleProblems(const HandleCounts& before, const std::string& faultedCall) {
  const HandleCounts after = CurrentHandles();
  const int keys = after.keys - (faultedCall == "RegCloseKey" ? 1 : 0);
  const int sets = after.deviceSets - before.deviceSets - (faultedCall == "SetupDiDestroyDeviceInfoList" ? 1 : 0);
  const int services = after.services - before.services - (faultedCall == "CloseServiceHandle" ? 1 : 0);
  std::string problems;
  if (keys != 0) problems += "registry keys left open: " + std::to_string(keys) + "\n";
  if (sets != 0) problems += "device sets left open: " + std::to_string(sets) + "\n";
  if (services != 0) problems += "service handles left open: " + std::to_string(services) + "\n";
  return problems;
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
  ASSERT_EQ(HandleProblems(handlesAtStart, ""), "") << "the clean run itself";

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
      EXPECT_EQ(HandleProblems(handlesBefore, call.name), "") << where;
      EXPECT_EQ(ForeignChanges(before, footprint), "") << where;
    }
  }
  std::printf("[ sweep ] %s: %zu calls in a clean run, %d faulted runs\n", mode.name, cleanCalls.size(), runs);
}

INSTANTIATE_TEST_SUITE_P(Modes, FaultSweepTest, ::testing::ValuesIn(CoveredModes()),
                         [](const ::testing::TestParamInfo<RunMode>& param) {
                           std::string name;
                           for (const char* c = param.param.name; *c != '\0'; ++c) {
                             if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                           }
                           return name;
                         });

}  // namespace
