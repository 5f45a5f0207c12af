#include "platform/sim/registry_handles.h"

#include "platform/sim/handle_table.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_control.h"

namespace sim {
namespace {

constexpr REGSAM kKeyWow64Flags = 0x0300;  // KEY_WOW64_64KEY | KEY_WOW64_32KEY
constexpr REGSAM kMaximumAllowed = 0x02000000;
constexpr REGSAM kGenericAll = 0x10000000;
constexpr REGSAM kGenericExecute = 0x20000000;
constexpr REGSAM kGenericWrite = 0x40000000;
constexpr REGSAM kGenericRead = 0x80000000;
constexpr REGSAM kKeyWrite = 0x20006;

HandleTable<HKEY, KeyHandle>& Table() {
  static HandleTable<HKEY, KeyHandle> table(0x1000);
  return table;
}

}  // namespace

HKEY OpenKeyHandle(std::shared_ptr<RegKey> key, std::string path, REGSAM access) {
  return Table().Add(KeyHandle{std::move(key), std::move(path), KeyRights(access)});
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

REGSAM KeyRights(REGSAM sam) {
  if ((sam & (kMaximumAllowed | kGenericAll)) != 0) return KEY_ALL_ACCESS;
  REGSAM rights = sam & ~(kKeyWow64Flags | kGenericRead | kGenericWrite | kGenericExecute);
  if ((sam & (kGenericRead | kGenericExecute)) != 0) rights |= KEY_READ;
  if ((sam & kGenericWrite) != 0) rights |= kKeyWrite;
  return rights;
}

int OpenRegistryKeyCount() {
  return Table().Count();
}

}  // namespace sim
