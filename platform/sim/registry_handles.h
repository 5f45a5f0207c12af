// The open registry key handles of the simulated machine (handle_table.h).
#pragma once

#include <memory>
#include <string>

#include "platform/sim/registry_tree.h"
#include "platform/sim/win32_api.h"

namespace sim {

struct KeyHandle {
  std::shared_ptr<RegKey> key;
  // The key's path below HKEY_LOCAL_MACHINE as the caller spelled it, for the call log.
  std::string path;
  // The key rights asked for at opening, without the view flags.
  REGSAM access = 0;
};

// A new handle to `key`, counted by OpenRegistryKeyCount until it is closed.
HKEY OpenKeyHandle(std::shared_ptr<RegKey> key, std::string path, REGSAM access);
// The open handle, HKEY_LOCAL_MACHINE included; nullptr for a handle that is
// unknown, closed, or was opened on a machine that has since been replaced.
const KeyHandle* FindKeyHandle(HKEY handle);
// False when the handle is not open.
bool CloseKeyHandle(HKEY handle);

}  // namespace sim
