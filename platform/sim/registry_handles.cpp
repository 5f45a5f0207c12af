#include "platform/sim/registry_handles.h"

#include <map>

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
constexpr uintptr_t kFirstHandle = 0x1000;

struct HandleTable {
  // The machine the handles were opened on: a newly opened machine starts with none.
  std::weak_ptr<RegKey> root;
  std::map<uintptr_t, KeyHandle> open;
  uintptr_t next = kFirstHandle;
};

HandleTable& Table() {
  static HandleTable table;
  const std::shared_ptr<RegKey>& machineRoot = TheMachine().localMachine;
  if (table.root.lock() != machineRoot) {
    table.open.clear();
    table.root = machineRoot;
  }
  return table;
}

}  // namespace

HKEY OpenKeyHandle(std::shared_ptr<RegKey> key, std::string path, REGSAM access) {
  HandleTable& table = Table();
  const uintptr_t value = table.next;
  table.next += 4;
  table.open.emplace(value, KeyHandle{std::move(key), std::move(path), KeyRights(access)});
  return reinterpret_cast<HKEY>(value);
}

const KeyHandle* FindKeyHandle(HKEY handle) {
  HandleTable& table = Table();
  if (handle == HKEY_LOCAL_MACHINE) {
    static KeyHandle localMachine;
    if (TheMachine().localMachine == nullptr) return nullptr;
    localMachine = KeyHandle{TheMachine().localMachine, std::string(), KEY_ALL_ACCESS};
    return &localMachine;
  }
  const auto found = table.open.find(reinterpret_cast<uintptr_t>(handle));
  return found == table.open.end() ? nullptr : &found->second;
}

bool CloseKeyHandle(HKEY handle) {
  return Table().open.erase(reinterpret_cast<uintptr_t>(handle)) == 1;
}

REGSAM KeyRights(REGSAM sam) {
  if ((sam & (kMaximumAllowed | kGenericAll)) != 0) return KEY_ALL_ACCESS;
  REGSAM rights = sam & ~(kKeyWow64Flags | kGenericRead | kGenericWrite | kGenericExecute);
  if ((sam & (kGenericRead | kGenericExecute)) != 0) rights |= KEY_READ;
  if ((sam & kGenericWrite) != 0) rights |= kKeyWrite;
  return rights;
}

int OpenRegistryKeyCount() {
  return static_cast<int>(Table().open.size());
}

}  // namespace sim
