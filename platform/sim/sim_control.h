// What a test may do to the simulated machine beyond the Windows calls themselves:
// open and save machine folders, read the call log, count open handles and inject
// faults. Only tests and the simulated runtime start-up include this header.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/sim/win32_api.h"

namespace sim {

// Loads the machine kept in `folder` (created empty when missing) and makes it the
// machine that every call works on. Resets the call log, the counters and the faults.
// `linuxCurrentDirectory` is mapped to the Windows current folder (see MapLinuxPath).
void OpenMachine(const std::string& folder, const std::string& linuxCurrentDirectory);
// Writes the machine's state back to its folder atomically (temporary file, rename).
void SaveMachine();
// The folder that QNETPREP_MACHINE names; the process stops when it names none.
std::string DefaultMachineFolder();

// One platform call as the log records it: the Windows name and a short text of the
// arguments that matter (a key path, a file path, a value name).
struct CallRecord {
  std::string name;
  std::string detail;
};
const std::vector<CallRecord>& CallLog();

// Handles still open, for checking that every path released what it opened.
int OpenRegistryKeyCount();
int OpenDeviceSetCount();
int OpenServiceHandleCount();
int OpenTokenHandleCount();
// Memory that a call handed out for the caller to free with LocalFree.
int LocalAllocationCount();

// A fault replaces the result of one platform call. With `useResult` the call
// returns `result` as is (for example SetupDiCallClassInstaller returning 2); otherwise it
// fails the way Windows fails it, reporting `error` (0: the call's usual error).
struct Fault {
  DWORD error = 0;
  bool useResult = false;
  int64_t result = 0;
};
// Fail every call of the named function whose logged detail (what it acts on, as the
// call log writes it: "Software\\Orvix\\qnetprep\\Parameters:RenamedInf", a file path)
// contains `detailPart` ("": every call of the name).
void FailCallOn(const std::string& name, const std::string& detailPart, Fault fault);
// Fail the k-th counted platform call of the run (1-based), whatever its name.
void FailCallNumber(uint32_t k, Fault fault);
// A process stopped at a call (QNETPREP_CRASH_AT) stops before the call acts: the machine
// is saved as it stands, as a power cut leaves a real registry, and the process exits so.
constexpr int kCrashExitCode = 86;
// Run `action` when the `occurrence`-th call (1-based) of the named function is
// entered, before it acts and before its fault is looked up: lets a test change the
// machine in the middle of a step, as another program could. ResetCalls drops it.
void BeforeCall(const std::string& name, uint32_t occurrence, std::function<void()> action);
// Empties the call log and drops every fault, hook and stop (OpenMachine does it).
void ResetCalls();

// Environment settings that a test process reads at start (see main.cpp):
//   QNETPREP_MACHINE       the machine folder
//   QNETPREP_CRASH_AT      k
//   QNETPREP_CALL_LOG      a file that receives the call log, one call a line
void ApplyEnvironmentSettings();
void WriteCallLogIfAsked();

}  // namespace sim
