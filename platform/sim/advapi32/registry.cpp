// The registry calls of ADVAPI32 over the simulated machine's tree, with the results,
// out-parameter rules and quirks of Windows NT that callers can observe.
#include "platform/sim/advapi32/registry.h"

#include <cstring>
#include <sstream>
#include <string>

#include "platform/sim/calls.h"
#include "platform/sim/handle_table.h"
#include "platform/sim/machine.h"

namespace {

constexpr LSTATUS kErrorBadPathname = 161;
constexpr LSTATUS kErrorNoAccess = 998;
// The documented limit is 255 characters, but Windows and Wine both accept a key
// name of 256 and refuse anything longer.
constexpr size_t kMaxKeyNameLength = 256;

constexpr REGSAM kKeyQueryValue = 0x1;
constexpr REGSAM kKeySetValue = 0x2;
constexpr REGSAM kKeyEnumerateSubKeys = 0x8;
constexpr REGSAM kKeyWow64Flags = 0x0300;  // KEY_WOW64_64KEY | KEY_WOW64_32KEY

struct KeyHandle {
  std::shared_ptr<sim::RegKey> key;
  // The key's path below HKEY_LOCAL_MACHINE as the caller spelled it, for the call log.
  std::string path;
  // The key rights asked for at opening, without the view flags.
  REGSAM access = 0;
};

sim::HandleTable<HKEY, KeyHandle>& KeyHandles() {
  static sim::HandleTable<HKEY, KeyHandle> table(0x1000);
  return table;
}

// The open handle, HKEY_LOCAL_MACHINE included; nullptr for a handle that is unknown,
// closed, or was opened on a machine that has since been replaced.
const KeyHandle* FindKeyHandle(HKEY handle) {
  if (handle != HKEY_LOCAL_MACHINE) return KeyHandles().Find(handle);
  static KeyHandle localMachine;
  if (sim::TheMachine().localMachine == nullptr) return nullptr;
  localMachine = KeyHandle{sim::TheMachine().localMachine, std::string(), KEY_ALL_ACCESS};
  return &localMachine;
}

HKEY OpenKeyHandle(std::shared_ptr<sim::RegKey> key, std::string path, REGSAM sam) {
  return KeyHandles().Add(KeyHandle{std::move(key), std::move(path), sam & ~kKeyWow64Flags});
}

std::string HandlePath(HKEY key) {
  const KeyHandle* handle = FindKeyHandle(key);
  return handle != nullptr ? handle->path : std::string("?");
}

// `base` and the levels of `subKey`, joined by single backslashes.
std::string JoinPath(std::string base, const char* subKey) {
  std::istringstream levels(subKey != nullptr ? subKey : "");
  for (std::string level; std::getline(levels, level, '\\');) {
    if (level.empty()) continue;
    if (!base.empty()) base += '\\';
    base += level;
  }
  return base;
}

// The open handle of a key that still exists, opened with `rights`.
LSTATUS ResolveKey(HKEY key, const KeyHandle** handle, REGSAM rights = 0) {
  *handle = FindKeyHandle(key);
  if (*handle == nullptr) return ERROR_INVALID_HANDLE;
  if ((*handle)->key->deleted) return ERROR_KEY_DELETED;
  return ((*handle)->access & rights) == rights ? ERROR_SUCCESS : static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
}

// A name handed to the caller, when it fits with its NUL.
LSTATUS CopyName(const std::string& text, LPSTR name, LPDWORD nameSize) {
  if (text.size() >= *nameSize) return ERROR_MORE_DATA;
  std::memcpy(name, text.c_str(), text.size() + 1);
  *nameSize = static_cast<DWORD>(text.size());
  return ERROR_SUCCESS;
}

// Windows refuses a relative path that starts with a backslash, and a key name
// longer than the limit.
LSTATUS CheckSubkeyPath(const char* subKey) {
  if (subKey == nullptr) return ERROR_SUCCESS;
  if (subKey[0] == '\\') return kErrorBadPathname;
  size_t levelLength = 0;
  for (const char* c = subKey; *c != '\0'; ++c) {
    levelLength = *c == '\\' ? 0 : levelLength + 1;
    if (levelLength > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
  }
  return ERROR_SUCCESS;
}

// The key below which RegOpenKeyExA and RegCreateKeyExA act, whatever the rights of its
// handle, as Windows ignores them there; the result is cleared once the handle is known.
LSTATUS ResolveParent(HKEY key, const char* subKey, PHKEY result, const KeyHandle** parent) {
  *parent = FindKeyHandle(key);
  if (*parent == nullptr) return ERROR_INVALID_HANDLE;
  *result = nullptr;
  return (*parent)->key->deleted ? static_cast<LSTATUS>(ERROR_KEY_DELETED) : CheckSubkeyPath(subKey);
}

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Hands a value to the caller: its type, its length, and its data when the buffer holds it
// (else ERROR_MORE_DATA, the buffer untouched). The ANSI calls of Windows NT also terminate
// string data stored without a NUL when the buffer has room for one more byte; the length
// they report does not count it.
LSTATUS ReadValue(const sim::RegValue& value, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  const DWORD length = static_cast<DWORD>(value.data.size());
  LSTATUS result = ERROR_SUCCESS;
  if (data != nullptr && length > *dataSize) {
    result = ERROR_MORE_DATA;
  } else if (data != nullptr && length > 0) {
    std::memcpy(data, value.data.data(), length);
    if (IsStringType(value.type) && length < *dataSize && data[length - 1] != 0) data[length] = 0;
  }
  if (type != nullptr) *type = value.type;
  if (dataSize != nullptr) *dataSize = length;
  return result;
}

// 64-bit Windows keeps the registry of 32-bit programs apart: what they see as
// HKLM\SOFTWARE\X is SOFTWARE\WOW6432Node\X, which a 64-bit program opens as it is, or as
// SOFTWARE\X with KEY_WOW64_32KEY. The simulated program is a 64-bit one on 64-bit Windows
// and a 32-bit one on 32-bit Windows, where the flag changes nothing. The few keys that
// Windows shares between the views are not simulated. The parent's path is the one it was
// opened by: under a key opened in the 32-bit view, the flag finds the key the view has.
std::shared_ptr<sim::RegKey> FindKeyInView(const KeyHandle& parent, const char* subKey, REGSAM sam) {
  const std::string path = subKey != nullptr ? subKey : "";
  if ((sam & KEY_WOW64_32KEY) == 0 || !RegistryHasSeparate32BitView())
    return sim::FindKeyPath(parent.key, path);
  const std::string whole = JoinPath(parent.path, subKey);
  const size_t first = whole.find('\\');
  const std::string software = whole.substr(0, first);
  const std::string rest = first == std::string::npos ? "" : whole.substr(first + 1);
  if (!sim::NamesEqual(software, "SOFTWARE") ||
      sim::NamesEqual(rest.substr(0, rest.find('\\')), "WOW6432Node")) {
    return sim::FindKeyPath(parent.key, path);
  }
  return sim::FindKeyPath(sim::TheMachine().localMachine, JoinPath(software + "\\WOW6432Node", rest.c_str()));
}

}  // namespace

namespace sim {

std::string KeyDetail(HKEY key, const char* subKey) {
  return JoinPath(HandlePath(key), subKey);
}

// An empty path names the key itself, which Windows then deletes; the machine's root, which
// has no parent, stays.
LSTATUS DeleteKey(HKEY key, const char* subKey, bool tree) {
  if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
  const KeyHandle* parent = nullptr;
  LSTATUS status = ResolveKey(key, &parent);
  if (status == ERROR_SUCCESS) status = CheckSubkeyPath(subKey);
  if (status != ERROR_SUCCESS) return status;
  const std::shared_ptr<RegKey> target = FindKeyPath(parent->key, subKey);
  if (target == nullptr) return ERROR_FILE_NOT_FOUND;
  if (target->parent == nullptr || (!tree && !target->subkeys.empty())) return ERROR_ACCESS_DENIED;
  DeleteSubkeyTree(*target->parent, target->name);
  return ERROR_SUCCESS;
}

int OpenRegistryKeyCount() {
  return KeyHandles().Count();
}

}  // namespace sim

using sim::DeleteKey;
using sim::KeyDetail;

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM sam, PHKEY result) {
  SIM_CALL(RegOpenKeyExA, KeyDetail(key, subKey), (sam & KEY_WOW64_32KEY) != 0 ? " (32-bit view)" : "");
  // Windows passes the options to the kernel, which refuses any but the link option.
  if (result == nullptr || (options & ~REG_OPTION_OPEN_LINK) != 0) return ERROR_INVALID_PARAMETER;
  const KeyHandle* parent = nullptr;
  const LSTATUS status = ResolveParent(key, subKey, result, &parent);
  if (status != ERROR_SUCCESS) return status;
  std::shared_ptr<sim::RegKey> target = FindKeyInView(*parent, subKey, sam);
  if (target == nullptr) return ERROR_FILE_NOT_FOUND;
  *result = OpenKeyHandle(std::move(target), JoinPath(parent->path, subKey), sam);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR /*keyClass*/, DWORD /*options*/,
                               REGSAM sam, LPSECURITY_ATTRIBUTES /*security*/, PHKEY result,
                               LPDWORD /*disposition*/) {
  SIM_CALL(RegCreateKeyExA, KeyDetail(key, subKey));
  if (result == nullptr) return ERROR_BADKEY;
  if (reserved != 0) return ERROR_INVALID_PARAMETER;
  const KeyHandle* parent = nullptr;
  const LSTATUS status = ResolveParent(key, subKey, result, &parent);
  if (status != ERROR_SUCCESS) return status;
  std::shared_ptr<sim::RegKey> target = sim::CreateKeyPath(parent->key, subKey != nullptr ? subKey : "");
  *result = OpenKeyHandle(std::move(target), JoinPath(parent->path, subKey), sam);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD dataSize) {
  SIM_CALL(RegQueryValueExA, HandlePath(key), valueName != nullptr ? valueName : "");
  if ((data != nullptr && dataSize == nullptr) || reserved != nullptr) return ERROR_INVALID_PARAMETER;
  const KeyHandle* handle = nullptr;
  const LSTATUS status = ResolveKey(key, &handle, kKeyQueryValue);
  if (status != ERROR_SUCCESS) return status;
  const sim::RegValue* value = sim::FindValue(*handle->key, valueName != nullptr ? valueName : "");
  return value != nullptr ? ReadValue(*value, type, data, dataSize) : ERROR_FILE_NOT_FOUND;
}

LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                              DWORD dataSize) {
  SIM_CALL(RegSetValueExA, HandlePath(key), valueName != nullptr ? valueName : "");
  if (reserved != 0) return ERROR_INVALID_PARAMETER;
  if (data == nullptr && dataSize != 0) return kErrorNoAccess;
  const KeyHandle* handle = nullptr;
  const LSTATUS status = ResolveKey(key, &handle, kKeySetValue);
  if (status != ERROR_SUCCESS) return status;
  DWORD stored = dataSize;
  // Windows NT adds the terminating NUL that a caller left out of the length: when
  // string data does not end in NUL but the byte just after it in the caller's
  // buffer is one, that byte is stored too. A program that passes strlen() as the
  // length of a REG_SZ therefore gets one byte more than it asked for on Windows
  // (Wine does the same), and the records it leaves must be the same here. Like
  // Windows, this looks at one byte past the stated length.
  if (stored > 0 && IsStringType(type) && data[stored - 1] != 0 && data[stored] == 0) ++stored;
  sim::SetValue(*handle->key, valueName != nullptr ? valueName : "", type, data, stored);
  return ERROR_SUCCESS;
}

// Keys have no class or time here: those arguments are left alone.
LSTATUS WINAPI RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                             LPSTR /*keyClass*/, LPDWORD /*classSize*/, PFILETIME /*lastWriteTime*/) {
  SIM_CALL(RegEnumKeyExA, HandlePath(key), index);
  if (reserved != nullptr || name == nullptr || nameSize == nullptr) return ERROR_INVALID_PARAMETER;
  const KeyHandle* handle = nullptr;
  const LSTATUS status = ResolveKey(key, &handle, kKeyEnumerateSubKeys);
  if (status != ERROR_SUCCESS) return status;
  const auto& subkeys = handle->key->subkeys;
  if (index >= subkeys.size()) return ERROR_NO_MORE_ITEMS;
  return CopyName(subkeys[index]->name, name, nameSize);
}

LSTATUS WINAPI RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize, LPDWORD reserved,
                             LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  SIM_CALL(RegEnumValueA, HandlePath(key), index);
  if ((data != nullptr && dataSize == nullptr) || reserved != nullptr || valueName == nullptr ||
      valueNameSize == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  const KeyHandle* handle = nullptr;
  const LSTATUS status = ResolveKey(key, &handle, kKeyQueryValue);
  if (status != ERROR_SUCCESS) return status;
  const auto& values = handle->key->values;
  if (index >= values.size()) return ERROR_NO_MORE_ITEMS;
  const sim::RegValue& value = values[index];
  const LSTATUS result = ReadValue(value, type, data, dataSize);
  return result != ERROR_SUCCESS ? result : CopyName(value.name, valueName, valueNameSize);
}

LSTATUS WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  SIM_CALL(RegDeleteKeyA, KeyDetail(key, subKey));
  return DeleteKey(key, subKey, false);
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
  SIM_CALL(RegCloseKey, HandlePath(key));
  return KeyHandles().Close(key) ? ERROR_SUCCESS : static_cast<LSTATUS>(ERROR_INVALID_HANDLE);
}
