// Every simulated Windows call passes through EnterCall first: it is counted and
// logged, and a fault planned for it is handed back to the call to act on.
#pragma once

#include <string>

#include "platform/sim/sim_control.h"

namespace sim {

// Returns the planned fault for this call, or nullptr to act normally. Also handles
// a planned crash at this call (saves the machine and exits).
const Fault* EnterCall(const char* name, const std::string& detail = std::string());

// The error a faulted call reports: the planned one, or the call's usual error.
inline DWORD FaultError(const Fault& fault, DWORD usual) { return fault.error != 0 ? fault.error : usual; }

}  // namespace sim
