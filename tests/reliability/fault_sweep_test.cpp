// Every platform call of a run made to fail in turn, the way Windows fails it, then
// every call of one name for the whole run, as a broken subsystem fails: each run still
// ends with exit code 1, releases every handle it opened and changes nothing outside
// the installer's own keys, folders, files, devices and service.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>

#include "tests/reliability/reliability_machine.h"

namespace {

class FaultSweepTest : public ReliabilityTest, public ::testing::WithParamInterface<RunMode> {};

TEST_P(FaultSweepTest, EveryFailingCallEndsCleanAndStaysWithinTheProduct) {
  const RunMode& mode = GetParam();
  PrepareTemplate(mode);
  OpenTemplateCopy();
  const ProductFootprint footprint = FootprintFor(mode.tail);
  const MachineState before = CaptureMachineState();
  int runs = 0;
  // Runs the mode with `plan` in place; `failedCloses` counts the faulted closes.
  const auto check = [&](const std::string& where, const std::string& name, const std::function<void()>& plan,
                         const std::function<int()>& failedCloses) {
    if (runs++ > 0) OpenTemplateCopy();
    const HandleCounts handles = CurrentHandles();
    plan();
    EXPECT_EQ(Run(mode.tail), 1) << where;
    EXPECT_TRUE(IsErrorLineOutput(output_)) << where << "\n" << output_;
    EXPECT_EQ(HandlesLeftSince(handles, name, failedCloses()), "") << where;
    EXPECT_EQ(ForeignChanges(before, footprint), "") << where;
  };
  check(
      "the clean run", "", [] {}, [] { return 0; });
  const std::vector<sim::CallRecord> calls = sim::CallLog();
  std::set<std::string> names;
  for (uint32_t k = 1; k <= calls.size(); ++k) {
    const std::string& name = calls[k - 1].name;
    names.insert(name);
    // Calls that fill a text buffer may also report that it is too small, which leaves it untouched.
    std::vector<sim::Fault> faults = {sim::Fault{}};
    if (name == "GetEnvironmentVariableA" || name == "GetCurrentDirectoryA")
      faults.push_back({0, true, MAX_PATH + 1});
    if (name == "GetSystemDirectoryA") faults.push_back({0, true, 4 * MAX_PATH});
    for (const sim::Fault& fault : faults) {
      const std::string where = "call " + std::to_string(k) + " " + name + " " + calls[k - 1].detail +
                                (fault.useResult ? " returning " + std::to_string(fault.result) : " failing");
      check(
          where, name, [&] { sim::FailCallNumber(k, fault); }, [] { return 1; });
    }
  }
  for (const std::string& name : names) {
    const auto count = [&name] {
      return static_cast<int>(
          std::count_if(sim::CallLog().begin(), sim::CallLog().end(),
                        [&name](const sim::CallRecord& call) { return call.name == name; }));
    };
    check(
        "every " + name + " failing", name, [&name] { sim::FailCall(name, sim::Fault{}); }, count);
  }
  std::printf("[ sweep ] %s: %zu calls in a clean run, %zu call names, %d faulted runs\n", mode.name,
              calls.size(), names.size(), runs - 1);
}

INSTANTIATE_TEST_SUITE_P(Modes, FaultSweepTest, ::testing::ValuesIn(CoveredModes()), ModeName);

}  // namespace
