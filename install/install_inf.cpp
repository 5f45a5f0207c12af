#include "install/install_inf.h"

#include "install/add_remove_entry.h"
#include "install/registry_values.h"
#include "install/self_copy.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "records/record_keys.h"
#include "records/records.h"

namespace {

// The keys of an install's records; nullptr when not open. Closed innermost first.
struct InstallKeys {
  HKEY software;
  HKEY vendor;
  HKEY product;
  HKEY parameters;
};

void CloseInstallKeys(InstallKeys& keys) {
  CloseKeysInOrder({&keys.parameters, &keys.product, &keys.vendor, &keys.software});
}

// The vendor key is reached through "SOFTWARE" and created when missing; in RecordMode the
// product key under it too.
bool OpenRecordKeys(const RunState& state, InstallKeys& keys) {
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSoftwareKey, 0, KEY_ALL_ACCESS, &keys.software) != ERROR_SUCCESS) {
    keys.software = nullptr;
    return false;
  }
  if (CreateRecordKey(keys.software, kVendorKeyName, &keys.vendor) != ERROR_SUCCESS) return false;
  return !state.RecordMode || CreateRecordKey(keys.vendor, state.ProductName, &keys.product) == ERROR_SUCCESS;
}

// The INF is pre-installed from its staged copy. False, with an empty path, when there is no
// install folder, the name climbs out of it or the path does not fit.
bool ComposeSourceInfPath(RunState& state, const char* infName) {
  const bool composed = state.InstallFolder[0] != '\0' && StaysWithinFolder(infName) &&
                        TextJoin(state.SourceInfPath, state.InstallFolder, infName);
  if (!composed) state.SourceInfPath[0] = '\0';
  return composed;
}

// Copies the INF, and the catalog that it names, into the INF store. The catalog-only pass
// comes first; as it may not overwrite, it also tells an INF that was stored before this run
// (ERROR_FILE_EXISTS) from one that the full copy stores now, or that Wine, which stores the
// INF at this pass already, stored just now. The full copy decides.
bool PreInstall(const char* sourceInfPath, StoredInf& stored) {
  const BOOL catalogCopied =
      SetupCopyOEMInfA(sourceInfPath, nullptr, SPOST_PATH, SP_COPY_OEMINF_CATALOG_ONLY | SP_COPY_NOOVERWRITE,
                       stored.path, MAX_PATH, nullptr, nullptr);
  stored.own = catalogCopied || GetLastError() != ERROR_FILE_EXISTS;
  return SetupCopyOEMInfA(sourceInfPath, nullptr, SPOST_PATH, 0, stored.path, MAX_PATH, nullptr, nullptr) !=
         FALSE;
}

}  // namespace

bool PreInstallInf(RunState& state, InfSlot slot, const char* infName) {
  StoredInf& stored = state.StoredInfs[slot];
  stored = {};
  // Without the current folder nothing was staged, and the install folder may hold anything.
  if (state.SourceFolder[0] == '\0' || !ComposeSourceInfPath(state, infName)) return false;
  // A registry that cannot take the records stops the install before the store is touched.
  InstallKeys keys{};
  const bool keysOpen = OpenRecordKeys(state, keys);
  CloseInstallKeys(keys);
  if (!keysOpen) return false;
  if (PreInstall(state.SourceInfPath, stored)) return true;
  stored = {};
  return false;
}

void RecordInstalledInf(RunState& state, InfSlot slot) {
  if (!state.RecordMode) return;
  InstallKeys keys{};
  bool recorded = OpenRecordKeys(state, keys) &&
                  CreateRecordKey(keys.product, state.Parameters, &keys.parameters) == ERROR_SUCCESS;
  if (recorded) {
    SetRecordText(keys.product, kInstallValue, kInstallSuccess);
    SetRecordText(keys.product, kRebootValue, kRebootText);
    SetRecordText(keys.product, kVersionValue, state.Version);
    const char* slotValue = slot == kInfSlot0 ? state.RenamedInf : state.RenamedInf1;
    recorded = SetRecordText(keys.parameters, slotValue, state.StoredInfs[slot].path) == ERROR_SUCCESS;
  }
  CloseInstallKeys(keys);
  if (recorded && WriteAddRemoveEntry(state)) CopySelfToSystemFolder(state);
}

void RecordFailedInstall(const RunState& state) {
  InstallKeys keys{};
  OpenRecordKeys(state, keys);
  // Only RecordMode opens the product key.
  if (keys.product != nullptr) SetRecordText(keys.product, kInstallValue, kInstallFail);
  CloseInstallKeys(keys);
}
