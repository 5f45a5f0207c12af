#include "app/run_installer.h"

#include "app/options.h"
#include "app/resource_strings.h"
#include "app/wow64.h"
#include "cleanup/delete_inf_and_pnf.h"
#include "cleanup/remove_installed_infs.h"
#include "cleanup/remove_uninstall_keys.h"
#include "devices/device_classes.h"
#include "devices/remove_devices.h"
#include "install/install_inf.h"
#include "install/stage_package.h"
#include "package/package_files.h"

namespace {

// Removes what an earlier install left: the supported adapters, the driver's service, and the
// stored INFs that its records name (but the copies that this run's install uses).
void ClearEarlierInstall(RunState& state) {
  RemoveDevicesOfClass(state, GUID_DEVCLASS_NET);
  RemoveDevicesOfClass(state, GUID_DEVCLASS_OTHER);
  RemoveInstalledInfs(state);
}

// Pre-installs the mode's INFs in order, the first into slot 0; stops at the first that fails.
bool PreInstallInfs(RunState& state, const char* const* infs, int count) {
  for (int slot = 0; slot < count; ++slot) {
    if (!PreInstallInf(state, static_cast<InfSlot>(slot), infs[slot])) return false;
  }
  return true;
}

// Each INF into the slot of its place in the mode.
void RecordInstalledInfs(RunState& state, int count) {
  for (int slot = 0; slot < count; ++slot) RecordInstalledInf(state, static_cast<InfSlot>(slot));
}

// A failed install takes out again only the copies that it made: a copy that was in the store
// before the run belongs to the install that is still in place.
void TakeOutOwnCopies(const RunState& state) {
  for (const StoredInf& stored : state.StoredInfs) {
    if (stored.own) RemoveStoredInf(stored.path);
  }
}

}  // namespace

int RunInstaller(RunState& state, const char* commandTail) {
  // Half a job on 64-bit Windows would be worse than none (wow64.h).
  if (RunsUnderWow64()) return 1;

  const CommandOptions options = ReadCommandOptions(commandTail, state.InfArgument, sizeof state.InfArgument);
  state.RecordMode = options.recordMode;
  const bool stringsLoaded = LoadResourceStrings(state);

  if (options.mode == RunMode::Uninstall) {
    ClearEarlierInstall(state);
    // The key removal needs the strings; the clean-up's steps load them again or do without.
    if (stringsLoaded) RemoveUninstallKeys(state);
    return 1;
  }

  // No install leaves a machine with less driver than it found: nothing of the earlier install
  // goes before every INF of this one is in the store. Without its strings an install can name
  // neither its files nor its keys, and changes nothing.
  if (!stringsLoaded) return 1;
  const char* const singleInf[] = {state.InfArgument};
  const bool single = options.mode == RunMode::SingleInf;
  const char* const* infs = single ? singleInf : kDefaultInfs;
  const int count = single ? 1 : kInfSlotCount;
  // The package folder may be a share reached through an adapter that the clean-up removes, and
  // Windows stops a removed device at once: every file of the package, the program's own image
  // included, is read before the first removal.
  StagePackage(state);
  if (PreInstallInfs(state, infs, count)) {
    ClearEarlierInstall(state);
    RecordInstalledInfs(state, count);
  } else {
    TakeOutOwnCopies(state);
    RecordFailedInstall(state);
  }
  return 1;
}
