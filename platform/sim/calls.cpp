#include "platform/sim/calls.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <vector>

#include "platform/sim/machine.h"

namespace sim {
namespace {

struct NamedFault {
  std::string name;
  std::string detailPart;  // when not empty, only calls whose detail holds it
  Fault fault;
};

struct CallHook {
  std::string name;
  uint32_t occurrence;
  std::function<void()> action;
};

struct CallState {
  std::vector<CallRecord> log;  // its size is the number of the last call
  std::vector<NamedFault> namedFaults;
  std::vector<std::pair<uint32_t, Fault>> numberedFaults;
  std::vector<CallHook> hooks;
  uint32_t crashAt = 0;  // none: calls count from 1
};

CallState& Calls() {
  static CallState state;
  return state;
}

uint32_t OccurrencesSoFar(const char* name) {
  uint32_t seen = 0;
  for (const CallRecord& record : Calls().log) seen += record.name == name ? 1 : 0;
  return seen;
}

}  // namespace

const Fault* EnterCall(const char* name, const std::string& detail) {
  CallState& calls = Calls();
  calls.log.push_back({name, detail});
  const uint32_t number = static_cast<uint32_t>(calls.log.size());
  // The stop's own arm runs only in a process that it ends with _exit, which writes no coverage.
  if (number == calls.crashAt) {  // GCOVR_EXCL_BR_LINE
    SaveMachine();
    WriteCallLogIfAsked();
    std::fflush(stdout);
    _exit(kCrashExitCode);
  }
  for (size_t i = 0; i < calls.hooks.size(); ++i) {
    if (calls.hooks[i].name == name && calls.hooks[i].occurrence == OccurrencesSoFar(name)) {
      const std::function<void()> action = calls.hooks[i].action;  // may add or clear hooks
      action();
    }
  }
  for (const auto& [k, fault] : calls.numberedFaults) {
    if (k == number) return &fault;
  }
  for (const NamedFault& planned : calls.namedFaults) {
    const bool detailMatches =
        planned.detailPart.empty() || detail.find(planned.detailPart) != std::string::npos;
    if (planned.name == name && detailMatches) return &planned.fault;
  }
  return nullptr;
}

Part::Part(const char* given) : text(given != nullptr ? given : "(null)") {}

std::string FormDetail(const char* format, std::initializer_list<Part> parts) {
  std::string detail;
  const Part* part = parts.begin();
  for (const char* at = format; *at != '\0'; ++at) {
    if (*at != '%') {
      detail += *at;
    } else if (*++at == 's') {
      detail += (part++)->text;
    } else {
      char number[16];
      (void)std::snprintf(number, sizeof number, *at == 'x' ? "%x" : "%u", (part++)->number);
      detail += number;
    }
  }
  return detail;
}

int64_t FaultedResult(const SimulatedCall& call, const Fault& fault) noexcept {
  if (fault.useResult) return fault.result;
  const DWORD error = fault.error != 0 ? fault.error : call.usualError;
  if (call.failed == kError) return error;
  TheMachine().lastError = error;
  return call.failed == kAllOnes ? -1 : 0;
}

const std::vector<CallRecord>& CallLog() {
  return Calls().log;
}
void ResetCalls() {
  Calls() = CallState();
}

void FailCallOn(const std::string& name, const std::string& detailPart, Fault fault) {
  Calls().namedFaults.push_back({name, detailPart, fault});
}

void FailCallNumber(uint32_t k, Fault fault) {
  Calls().numberedFaults.emplace_back(k, fault);
}

void BeforeCall(const std::string& name, uint32_t occurrence, std::function<void()> action) {
  Calls().hooks.push_back({name, occurrence, std::move(action)});
}

void ApplyEnvironmentSettings() {
  if (const char* crashAt = std::getenv("QNETPREP_CRASH_AT")) {
    Calls().crashAt = static_cast<uint32_t>(std::strtoul(crashAt, nullptr, 10));
  }
}

void WriteCallLogIfAsked() {
  // Every process that the tests start asks for the log; only a run by hand goes without.
  const char* logFile = std::getenv("QNETPREP_CALL_LOG");
  if (logFile == nullptr) return;  // GCOVR_EXCL_BR_LINE
  std::ofstream out(logFile, std::ios::trunc);
  for (const CallRecord& record : Calls().log) out << record.name << ' ' << record.detail << '\n';
}

}  // namespace sim
