// Every simulated Windows call begins with Intercept (or InterceptStatus for the registry,
// whose calls return their error): the call is counted and logged, a planned stop ends the
// process there, and a planned fault makes the call return at once.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "platform/sim/sim_control.h"

namespace sim {

// Counts and logs the call, acts on a planned stop (saves the machine and exits), and
// returns the fault planned for it, or nullptr to act normally. Only the two below call it.
const Fault* EnterCall(const char* name, const std::string& detail);

// The error a faulted call reports: the planned one, or the call's usual error.
inline DWORD FaultError(const Fault& fault, DWORD usual) {
  return fault.error != 0 ? fault.error : usual;
}

template <typename Result>
Result PlannedResult(int64_t value) {
  if constexpr (std::is_pointer_v<Result>) {
    return reinterpret_cast<Result>(static_cast<intptr_t>(value));
  } else {
    return static_cast<Result>(value);
  }
}

// `detail` is what the call acts on, as the log shows it and as FailCallOn matches it. True
// when a fault is planned: `*result` is then what the call returns, the planned result as
// is, or `failed` with the planned error (`usualError` when none is given) as the last error.
// Only `result` decides the type: `failed` may be written as nullptr, 0 or FALSE.
template <typename T>
struct NotDeduced {
  using Type = T;
};

template <typename Result>
bool Intercept(const char* name, const std::string& detail, typename NotDeduced<Result>::Type failed,
               DWORD usualError, Result* result) {
  const Fault* fault = EnterCall(name, detail);
  if (fault == nullptr) return false;
  if (fault->useResult) {
    *result = PlannedResult<Result>(fault->result);
  } else {
    SetLastError(FaultError(*fault, usualError));
    *result = failed;
  }
  return true;
}

// The registry's form: the error is the result, and the last error is left alone.
inline bool InterceptStatus(const char* name, const std::string& detail, LSTATUS* status) {
  const Fault* fault = EnterCall(name, detail);
  if (fault == nullptr) return false;
  *status = fault->useResult ? static_cast<LSTATUS>(fault->result)
                             : static_cast<LSTATUS>(FaultError(*fault, ERROR_ACCESS_DENIED));
  return true;
}

}  // namespace sim
