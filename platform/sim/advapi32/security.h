// What the simulated security calls hand out and KERNEL32 takes back (kernel32/memory.cpp).
#pragma once

#include "platform/sim/win32_api.h"

namespace sim {

// False when `token` is no open token of the running process.
bool CloseToken(HANDLE token);
// False when `memory` is no block that a security call handed out, or one freed already.
bool FreeHandedOut(void* memory);

}  // namespace sim
