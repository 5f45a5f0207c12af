#include "install/install_inf.h"

#include "app/resource_strings.h"
#include "install/add_remove_entry.h"
#include "install/registry_values.h"
#include "install/self_copy.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "records/records.h"

namespace {

// The keys that an install holds open while it pre-installs and records; nullptr when
// not open. Closed innermost first.
struct InstallKeys {
  HKEY software;
  HKEY vendor;
  HKEY product;
  HKEY parameters;
};

void CloseInstallKeys(InstallKeys& keys) {
  HKEY* const innermostFirst[] = {&keys.parameters, &keys.product, &keys.vendor, &keys.software};
  for (HKEY* key : innermostFirst) {
    if (*key != nullptr) RegCloseKey(*key);
    *key = nullptr;
  }
}

// The INF is pre-installed from its staged copy. False, with an empty path, when
// there is no install folder, the name climbs out of it or the path does not fit.
bool ComposeSourceInfPath(RunState& state, const char* infName) {
  const bool composed = state.InstallFolder[0] != '\0' && StaysWithinFolder(infName) &&
                        TextJoin(state.SourceInfPath, state.InstallFolder, infName);
  if (!composed) state.SourceInfPath[0] = '\0';
  return composed;
}

// The vendor key is reached through "SOFTWARE" and created when missing.
bool OpenVendorKey(InstallKeys& keys) {
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSoftwareKey, 0, KEY_ALL_ACCESS, &keys.software) != ERROR_SUCCESS) {
    keys.software = nullptr;
    return false;
  }
  return CreateRecordKey(keys.software, kVendorKeyName, &keys.vendor) == ERROR_SUCCESS;
}

// Copies the INF, and the catalog that it names, into the system's INF store. The
// catalog-only pass comes first and its result does not matter; the full copy
// decides. `destination` receives the path of the stored copy.
bool PreInstall(const char* sourceInfPath, bool sourceInfComposed, char* destination) {
  if (!sourceInfComposed) return false;
  SetupCopyOEMInfA(sourceInfPath, nullptr, SPOST_PATH, SP_COPY_OEMINF_CATALOG_ONLY, destination, MAX_PATH,
                   nullptr, nullptr);
  return SetupCopyOEMInfA(sourceInfPath, nullptr, SPOST_PATH, 0, destination, MAX_PATH, nullptr, nullptr) !=
         FALSE;
}

// Slot 0 unless "RenamedInf" is taken, then slot 1; nullptr when both are taken.
const char* FreeSlotValueName(const RunState& state, HKEY parameters) {
  if (!ValueExists(parameters, state.RenamedInf)) return state.RenamedInf;
  if (!ValueExists(parameters, state.RenamedInf1)) return state.RenamedInf1;
  return nullptr;
}

// Pre-installs with the product's records: the outcome in "Install", and on success
// "reboot", "Version" and the stored INF's path in a free slot.
bool PreInstallRecorded(const RunState& state, bool sourceInfComposed, InstallKeys& keys) {
  if (CreateRecordKey(keys.vendor, state.ProductName, &keys.product) != ERROR_SUCCESS) return false;
  if (CreateRecordKey(keys.product, state.Parameters, &keys.parameters) != ERROR_SUCCESS) return false;
  // With both slots taken a further stored INF could never be removed again.
  const char* slot = FreeSlotValueName(state, keys.parameters);
  if (slot == nullptr) return false;

  char destination[kRecordValueLength] = {};
  if (!PreInstall(state.SourceInfPath, sourceInfComposed, destination)) {
    SetRecordText(keys.product, kInstallValue, kInstallFail);
    return false;
  }
  SetRecordText(keys.product, kInstallValue, kInstallSuccess);
  SetRecordText(keys.product, kRebootValue, kRebootText);
  SetRecordText(keys.product, kVersionValue, state.Version);
  return SetRecordText(keys.parameters, slot, destination) == ERROR_SUCCESS;
}

}  // namespace

bool InstallInf(RunState& state, const char* infName) {
  if (!LoadResourceStrings(state)) return false;
  // The package was staged before the clean-up (StagePackage); without the current
  // folder it was not, and the install folder may hold anything.
  if (state.SourceFolder[0] == '\0') return false;
  const bool sourceInfComposed = ComposeSourceInfPath(state, infName);

  InstallKeys keys{};
  bool installed = false;
  if (OpenVendorKey(keys)) {
    if (state.RecordMode) {
      installed = PreInstallRecorded(state, sourceInfComposed, keys);
    } else {
      char destination[kRecordValueLength] = {};
      installed = PreInstall(state.SourceInfPath, sourceInfComposed, destination);
    }
  }
  CloseInstallKeys(keys);
  if (!installed || !state.RecordMode) return installed;

  if (!WriteAddRemoveEntry(state)) return false;
  CopySelfToSystemFolder(state);
  return true;
}
