#include "cleanup/remove_uninstall_keys.h"

#include "platform/platform.h"
#include "records/records.h"

void RemoveUninstallKeys(RunState& state) {
  HKEY vendor = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, state.VendorKey, 0, KEY_ALL_ACCESS, &vendor) == ERROR_SUCCESS) {
    SHDeleteKeyA(vendor, state.ProductName);
    RegCloseKey(vendor);
  }
  HKEY list = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKeyPath, 0, KEY_ALL_ACCESS, &list) == ERROR_SUCCESS) {
    SHDeleteKeyA(list, state.ProductName);
    // Removed by its fixed name, although this program never creates it.
    SHDeleteKeyA(list, kLumoraEntryName);
    RegCloseKey(list);
  }
}
