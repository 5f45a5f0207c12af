#include "install/add_remove_entry.h"

#include "install/registry_values.h"
#include "platform/platform.h"
#include "records/records.h"

bool WriteAddRemoveEntry(const RunState& state) {
  HKEY list = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, state.UninstallKey, 0, KEY_ALL_ACCESS, &list) != ERROR_SUCCESS) {
    return false;
  }
  HKEY entry = nullptr;
  if (CreateRecordKey(list, state.ProductName, &entry) != ERROR_SUCCESS) {
    RegCloseKey(list);
    return false;
  }
  // Every value is written whatever the one before did: an entry without its uninstall
  // command would be one that the list cannot remove.
  const bool displayNameWritten = SetEntryText(entry, kDisplayNameValue, state.DisplayName) == ERROR_SUCCESS;
  const bool uninstallStringWritten =
      SetEntryText(entry, kUninstallStringValue, state.UninstallCommand) == ERROR_SUCCESS;
  const bool versionWritten = SetEntryVersion(entry, state.Version) == ERROR_SUCCESS;
  RegCloseKey(entry);
  RegCloseKey(list);
  return displayNameWritten && uninstallStringWritten && versionWritten;
}
