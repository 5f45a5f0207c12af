#include "cleanup/remove_installed_infs.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "app/resource_strings.h"
#include "cleanup/delete_inf_and_pnf.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "records/record_keys.h"
#include "records/records.h"

namespace {

// The record keys, nullptr when not open. Closed innermost first.
struct RecordKeys {
  HKEY vendor;
  HKEY product;
  HKEY parameters;
};

void CloseRecordKeys(RecordKeys& keys) {
  CloseKeysInOrder({&keys.parameters, &keys.product, &keys.vendor});
}

bool OpenKey(HKEY parent, const char* path, HKEY* key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(parent, path, 0, KEY_ALL_ACCESS, &opened) != ERROR_SUCCESS) return false;
  *key = opened;
  return true;
}

bool OpenRecordKeys(const RunState& state, RecordKeys& keys) {
  return OpenKey(HKEY_LOCAL_MACHINE, state.VendorKey, &keys.vendor) &&
         OpenKey(keys.vendor, state.ProductName, &keys.product) &&
         OpenKey(keys.product, state.Parameters, &keys.parameters);
}

// Reads a slot into the 512-byte buffer. A value that is not text, does not fit, or
// fills the buffer without a terminating NUL names no file.
bool ReadSlot(HKEY parameters, const char* valueName, char (&path)[kRecordValueLength]) {
  std::memset(path, 0, sizeof path);
  DWORD size = sizeof path;
  DWORD type = REG_NONE;
  if (RegQueryValueExA(parameters, valueName, nullptr, &type, reinterpret_cast<BYTE*>(path), &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  return type == REG_SZ && std::memchr(path, '\0', sizeof path) != nullptr;
}

// Run again with the same package, Windows hands back the copies that are stored already, and
// a record may name one of them: the clean-up must not take out what the run just put in.
bool IsThisRunsCopy(const RunState& state, const char* path) {
  return std::any_of(std::begin(state.StoredInfs), std::end(state.StoredInfs),
                     [path](const StoredInf& stored) {
                       return stored.path[0] != '\0' && TextEqualsIgnoringAsciiCase(stored.path, path);
                     });
}

// The stored INF that a slot names, unless this run's install uses it.
void DeleteRecordedInf(const RunState& state, const char* path) {
  if (!IsThisRunsCopy(state, path)) DeleteInfAndPnf(state, path);
}

}  // namespace

bool RemoveInstalledInfs(RunState& state) {
  if (!LoadResourceStrings(state)) return false;
  RecordKeys keys{};
  if (!OpenRecordKeys(state, keys)) {
    CloseRecordKeys(keys);
    return false;
  }
  // A record whose slot 0 is missing or names no file is still a record: skipping it
  // would leave its slots taken, and the next install could not record both INFs.
  const bool slot0Read = ReadSlot(keys.parameters, state.RenamedInf, state.SourceInfPath);
  if (slot0Read) DeleteRecordedInf(state, state.SourceInfPath);
  if (ReadSlot(keys.parameters, state.RenamedInf1, state.SourceInfPath)) {
    DeleteRecordedInf(state, state.SourceInfPath);
  }

  // One level at a time: a product key that holds anything besides Parameters stays.
  RegCloseKey(keys.parameters);
  keys.parameters = nullptr;
  RegDeleteKeyA(keys.product, state.Parameters);
  RegCloseKey(keys.product);
  keys.product = nullptr;
  RegDeleteKeyA(keys.vendor, state.ProductName);
  CloseRecordKeys(keys);

  HKEY list = nullptr;
  if (!OpenKey(HKEY_LOCAL_MACHINE, state.UninstallKey, &list)) return false;
  RegDeleteKeyA(list, state.ProductName);
  RegCloseKey(list);
  return slot0Read;
}
