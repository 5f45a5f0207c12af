// The registry calls of ADVAPI32 over the simulated machine's tree, with the results,
// out-parameter rules and quirks of Windows NT that callers can observe.
#include "platform/sim/advapi32/registry.h"

#include <cstring>
#include <functional>
#include <string>

#include "platform/sim/calls.h"
#include "platform/sim/handle_table.h"
#include "platform/sim/machine.h"

namespace {

struct KeyHandle {
  std::shared_ptr<sim::RegKey> key;
  // The key's path below HKEY_LOCAL_MACHINE as the caller spelled it, for the call log.
  std::string path;
};

sim::HandleTable<HKEY, KeyHandle>& KeyHandles() {
  static sim::HandleTable<HKEY, KeyHandle> table(0x1000);
  return table;
}

// The open handle, HKEY_LOCAL_MACHINE included. The installer opens every key with all
// rights and passes only handles that it holds, and names below them that the string
// table and the registry's own key names spell, one backslash between levels.
const KeyHandle& FindKeyHandle(HKEY handle) {
  if (handle != HKEY_LOCAL_MACHINE) return *KeyHandles().Find(handle);
  static KeyHandle localMachine;
  localMachine = KeyHandle{sim::TheMachine().localMachine, std::string()};
  return localMachine;
}

HKEY OpenKeyHandle(std::shared_ptr<sim::RegKey> key, std::string path) {
  return KeyHandles().Add(KeyHandle{std::move(key), std::move(path)});
}

std::string HandlePath(HKEY key) {
  return FindKeyHandle(key).path;
}

std::string JoinPath(std::string base, const char* subKey) {
  if (!base.empty()) base += '\\';
  return base += subKey;
}

// What `act` returns for the open key, unless another program deleted the key since it was
// opened, as the supported-device list may be while it is read.
LSTATUS OnLiveKey(HKEY key, const std::function<LSTATUS(const KeyHandle&)>& act) {
  const KeyHandle& handle = FindKeyHandle(key);
  return handle.key->deleted ? static_cast<LSTATUS>(ERROR_KEY_DELETED) : act(handle);
}

// A name handed to the caller, when it fits with its NUL.
LSTATUS CopyName(const std::string& text, LPSTR name, LPDWORD nameSize) {
  if (text.size() >= *nameSize) return ERROR_MORE_DATA;
  std::memcpy(name, text.c_str(), text.size() + 1);
  *nameSize = static_cast<DWORD>(text.size());
  return ERROR_SUCCESS;
}

// Hands a value to the caller: its type, its length, and its data when the buffer holds it
// (else ERROR_MORE_DATA, the buffer untouched). The ANSI calls of Windows NT also terminate
// string data stored without a NUL when the buffer has room for one more byte; the length
// they report does not count it. REG_SZ is the only text type the installer reads.
LSTATUS ReadValue(const sim::RegValue& value, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  const DWORD length = static_cast<DWORD>(value.data.size());
  LSTATUS result = ERROR_SUCCESS;
  if (length > *dataSize) {
    result = ERROR_MORE_DATA;
  } else if (length > 0) {
    std::memcpy(data, value.data.data(), length);
    if (value.type == REG_SZ && length < *dataSize && data[length - 1] != 0) data[length] = 0;
  }
  if (type != nullptr) *type = value.type;
  *dataSize = length;
  return result;
}

// 64-bit Windows keeps the registry of 32-bit programs apart: what they see as
// HKLM\SOFTWARE\X is SOFTWARE\WOW6432Node\X, which a 64-bit program opens as SOFTWARE\X with
// KEY_WOW64_32KEY. The simulated program is a 64-bit one on 64-bit Windows, the only Windows
// where it asks for that view, and only below SOFTWARE. The few keys that Windows shares
// between the views are not simulated. The parent's path is the one it was opened by: under a key opened in
// the 32-bit view, the flag finds the key the view has.
std::shared_ptr<sim::RegKey> FindKeyInView(const KeyHandle& parent, const char* subKey, REGSAM sam) {
  if ((sam & KEY_WOW64_32KEY) == 0) return sim::FindKeyPath(parent.key, subKey);
  const std::string whole = JoinPath(parent.path, subKey);
  const size_t first = whole.find('\\');
  return sim::FindKeyPath(sim::TheMachine().localMachine,
                          whole.substr(0, first) + "\\WOW6432Node" + whole.substr(first));
}

}  // namespace

namespace sim {

std::string KeyDetail(HKEY key, const char* subKey) {
  return JoinPath(HandlePath(key), subKey);
}

// The installer names a subkey, never the key itself: the target has a parent.
LSTATUS DeleteKey(HKEY key, const char* subKey, bool tree) {
  return OnLiveKey(key, [&](const KeyHandle& parent) -> LSTATUS {
    const std::shared_ptr<RegKey> target = FindKeyPath(parent.key, subKey);
    if (target == nullptr) return ERROR_FILE_NOT_FOUND;
    if (!tree && !target->subkeys.empty()) return ERROR_ACCESS_DENIED;
    DeleteSubkeyTree(*target->parent, target->name);
    return ERROR_SUCCESS;
  });
}

int OpenRegistryKeyCount() {
  return KeyHandles().Count();
}

}  // namespace sim

using sim::DeleteKey;
using sim::KeyDetail;

// Windows ignores the rights of the parent's handle here, and clears the result first.
LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD /*options*/, REGSAM sam, PHKEY result) {
  SIM_CALL(RegOpenKeyExA, KeyDetail(key, subKey), (sam & KEY_WOW64_32KEY) != 0 ? " (32-bit view)" : "");
  *result = nullptr;
  return OnLiveKey(key, [&](const KeyHandle& parent) -> LSTATUS {
    std::shared_ptr<sim::RegKey> target = FindKeyInView(parent, subKey, sam);
    if (target == nullptr) return ERROR_FILE_NOT_FOUND;
    *result = OpenKeyHandle(std::move(target), JoinPath(parent.path, subKey));
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD /*reserved*/, LPSTR /*keyClass*/,
                               DWORD /*options*/, REGSAM /*sam*/, LPSECURITY_ATTRIBUTES /*security*/,
                               PHKEY result, LPDWORD /*disposition*/) {
  SIM_CALL(RegCreateKeyExA, KeyDetail(key, subKey));
  *result = nullptr;
  return OnLiveKey(key, [&](const KeyHandle& parent) -> LSTATUS {
    *result = OpenKeyHandle(sim::CreateKeyPath(parent.key, subKey), JoinPath(parent.path, subKey));
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD /*reserved*/, LPDWORD type, LPBYTE data,
                                LPDWORD dataSize) {
  SIM_CALL(RegQueryValueExA, HandlePath(key), valueName);
  return OnLiveKey(key, [&](const KeyHandle& handle) -> LSTATUS {
    const sim::RegValue* value = sim::FindValue(*handle.key, valueName);
    return value != nullptr ? ReadValue(*value, type, data, dataSize) : ERROR_FILE_NOT_FOUND;
  });
}

LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD /*reserved*/, DWORD type, const BYTE* data,
                              DWORD dataSize) {
  SIM_CALL(RegSetValueExA, HandlePath(key), valueName);
  return OnLiveKey(key, [&](const KeyHandle& handle) -> LSTATUS {
    // Windows NT adds the terminating NUL that a caller left out of the length: when
    // string data does not end in NUL but the byte just after it in the caller's
    // buffer is one, that byte is stored too. The installer passes strlen() as the
    // length of some REG_SZ values, which therefore get one byte more than it asked for
    // on Windows (Wine does the same), and the records it leaves must be the same here.
    // Its data is always text, with that NUL after it.
    const DWORD stored = data[dataSize - 1] != 0 ? dataSize + 1 : dataSize;
    sim::SetValue(*handle.key, valueName, type, data, stored);
    return ERROR_SUCCESS;
  });
}

// Keys have no class or time here: those arguments are left alone.
LSTATUS WINAPI RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD /*reserved*/,
                             LPSTR /*keyClass*/, LPDWORD /*classSize*/, PFILETIME /*lastWriteTime*/) {
  SIM_CALL(RegEnumKeyExA, HandlePath(key), index);
  return OnLiveKey(key, [&](const KeyHandle& handle) -> LSTATUS {
    const auto& subkeys = handle.key->subkeys;
    if (index >= subkeys.size()) return ERROR_NO_MORE_ITEMS;
    return CopyName(subkeys[index]->name, name, nameSize);
  });
}

LSTATUS WINAPI RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize,
                             LPDWORD /*reserved*/, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  SIM_CALL(RegEnumValueA, HandlePath(key), index);
  return OnLiveKey(key, [&](const KeyHandle& handle) -> LSTATUS {
    const auto& values = handle.key->values;
    if (index >= values.size()) return ERROR_NO_MORE_ITEMS;
    const sim::RegValue& value = values[index];
    const LSTATUS result = ReadValue(value, type, data, dataSize);
    return result != ERROR_SUCCESS ? result : CopyName(value.name, valueName, valueNameSize);
  });
}

LSTATUS WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  SIM_CALL(RegDeleteKeyA, KeyDetail(key, subKey));
  return DeleteKey(key, subKey, false);
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
  SIM_CALL(RegCloseKey, HandlePath(key));
  KeyHandles().Close(key);
  return ERROR_SUCCESS;
}
