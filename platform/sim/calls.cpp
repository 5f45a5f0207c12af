#include "platform/sim/calls.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <vector>

namespace sim {
namespace {

struct NamedFault {
  std::string name;
  uint32_t occurrence;  // 0: every call of the name
  Fault fault;
};

struct CallHook {
  std::string name;
  uint32_t occurrence;
  std::function<void()> action;
};

struct CallState {
  std::vector<CallRecord> log;
  uint32_t count = 0;
  std::vector<NamedFault> namedFaults;
  std::vector<std::pair<uint32_t, Fault>> numberedFaults;
  std::vector<CallHook> hooks;
  uint32_t crashAt = 0;
  std::string logFile;
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
  const uint32_t number = ++calls.count;
  calls.log.push_back({name, detail});
  if (calls.crashAt != 0 && number == calls.crashAt) {
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
  if (!calls.namedFaults.empty()) {
    const uint32_t occurrence = OccurrencesSoFar(name);
    for (const NamedFault& planned : calls.namedFaults) {
      if (planned.name == name && (planned.occurrence == 0 || planned.occurrence == occurrence)) {
        return &planned.fault;
      }
    }
  }
  return nullptr;
}

const std::vector<CallRecord>& CallLog() {
  return Calls().log;
}
uint32_t CallCount() {
  return Calls().count;
}

void ResetCalls() {
  CallState& calls = Calls();
  calls.log.clear();
  calls.count = 0;
  ClearFaults();
}

void FailCall(const std::string& name, Fault fault, uint32_t occurrence) {
  Calls().namedFaults.push_back({name, occurrence, fault});
}

void FailCallNumber(uint32_t k, Fault fault) {
  Calls().numberedFaults.emplace_back(k, fault);
}

void CrashAtCallNumber(uint32_t k) {
  Calls().crashAt = k;
}

void BeforeCall(const std::string& name, uint32_t occurrence, std::function<void()> action) {
  Calls().hooks.push_back({name, occurrence, std::move(action)});
}

void ClearFaults() {
  CallState& calls = Calls();
  calls.namedFaults.clear();
  calls.numberedFaults.clear();
  calls.hooks.clear();
  calls.crashAt = 0;
}

namespace {

// "error" or "error=result" after a colon; error may be decimal or 0x-hexadecimal.
Fault ParseFaultSuffix(const char* text) {
  Fault fault;
  if (text == nullptr || *text == '\0') return fault;
  char* end = nullptr;
  fault.error = static_cast<DWORD>(std::strtoul(text, &end, 0));
  if (end != nullptr && *end == '=') {
    fault.useResult = true;
    fault.result = std::strtoll(end + 1, nullptr, 0);
  }
  return fault;
}

}  // namespace

void ApplyEnvironmentSettings() {
  if (const char* failCall = std::getenv("QNETPREP_FAIL_CALL")) {
    const char* colon = std::strchr(failCall, ':');
    FailCallNumber(static_cast<uint32_t>(std::strtoul(failCall, nullptr, 10)),
                   ParseFaultSuffix(colon != nullptr ? colon + 1 : nullptr));
  }
  if (const char* failName = std::getenv("QNETPREP_FAIL_NAME")) {
    std::string setting(failName);
    const size_t colon = setting.find(':');
    const std::string head = setting.substr(0, colon);
    const size_t hash = head.find('#');
    const uint32_t occurrence =
        hash == std::string::npos ? 0
                                  : static_cast<uint32_t>(std::strtoul(head.c_str() + hash + 1, nullptr, 10));
    FailCall(head.substr(0, hash),
             ParseFaultSuffix(colon == std::string::npos ? nullptr : failName + colon + 1), occurrence);
  }
  if (const char* crashAt = std::getenv("QNETPREP_CRASH_AT")) {
    CrashAtCallNumber(static_cast<uint32_t>(std::strtoul(crashAt, nullptr, 10)));
  }
  if (const char* logFile = std::getenv("QNETPREP_CALL_LOG")) Calls().logFile = logFile;
}

void WriteCallLogIfAsked() {
  const CallState& calls = Calls();
  if (calls.logFile.empty()) return;
  std::ofstream out(calls.logFile, std::ios::trunc);
  for (const CallRecord& record : calls.log) out << record.name << ' ' << record.detail << '\n';
}

}  // namespace sim
