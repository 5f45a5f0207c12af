#include "platform/sim/registry_handles.h"

#include "platform/sim/handle_table.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_control.h"

namespace sim {
namespace {

constexpr REGSAM kKeyWow64Flags = 0x0300;  // KEY_WOW64_64KEY | KEY_WOW64_32KEY

HandleTable<HKEY, KeyHandle>& Table() {
  static HandleTable<HKEY, KeyHandle> table(0x1000);
  return table;
}

}  // namespace

HKEY OpenKeyHandle(std::shared_ptr<RegKey> key, std::string path, REGSAM access) {
  return Table().Add(KeyHandle{std::move(key), std::move(path), access & ~kKeyWow64Flags});
}

const KeyHandle* FindKeyHandle(HKEY handle) {
  if (handle == HKEY_LOCAL_MACHINE) {
    static KeyHandle localMachine;
    if (TheMachine().localMachine == nullptr) return nullptr;
    localMachine = KeyHandle{TheMachine().localMachine, std::string(), KEY_ALL_ACCESS};
    return &localMachine;
  }
  return Table().Find(handle);
}

bool CloseKeyHandle(HKEY handle) {
  return Table().Close(handle);
}

int OpenRegistryKeyCount() {
  return Table().Count();
}

}  // namespace sim
