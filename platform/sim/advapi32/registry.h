// What SHLWAPI builds on ADVAPI32's registry, as Windows builds it.
#pragma once

#include <string>

#include "platform/sim/win32_api.h"

namespace sim {

// The path that `subKey` names below the open `key`, as the call log writes it.
std::string KeyDetail(HKEY key, const char* subKey);
// Deletes the key that `subKey` names below `key`, with its subkeys when `tree`; without,
// a key that has subkeys stays. A registry status.
LSTATUS DeleteKey(HKEY key, const char* subKey, bool tree);

}  // namespace sim
