#include "app/run_installer.h"

#include "app/options.h"
#include "app/resource_strings.h"
#include "app/wow64.h"
#include "cleanup/remove_installed_infs.h"
#include "cleanup/remove_uninstall_keys.h"
#include "devices/device_classes.h"
#include "devices/remove_devices.h"
#include "install/install_inf.h"
#include "install/stage_package.h"
#include "package/package_files.h"

namespace {

// Every mode clears what an earlier install left, before anything is installed.
void ClearEarlierInstall(RunState& state) {
  RemoveDevicesOfClass(state, GUID_DEVCLASS_NET);
  RemoveDevicesOfClass(state, GUID_DEVCLASS_OTHER);
  RemoveInstalledInfs(state);
}

}  // namespace

int RunInstaller(RunState& state, const char* commandTail) {
  // Half a job on 64-bit Windows would be worse than none (wow64.h).
  if (RunsUnderWow64()) return 1;

  const CommandOptions options = ReadCommandOptions(commandTail, state.InfArgument, sizeof state.InfArgument);
  state.RecordMode = options.recordMode;
  // The steps that need the strings load them again and give up on their own; only
  // the staging and the key removal of the uninstall depend on this first load.
  const bool stringsLoaded = LoadResourceStrings(state);

  // The package folder may be a share reached through an adapter that the clean-up
  // removes, and Windows stops a removed device at once: every file of the package,
  // the program's own image included, is read before the first removal.
  if (options.mode != RunMode::Uninstall && stringsLoaded) StagePackage(state);
  ClearEarlierInstall(state);
  switch (options.mode) {
    case RunMode::Uninstall:
      if (stringsLoaded) RemoveUninstallKeys(state);
      break;
    case RunMode::SingleInf:
      InstallInf(state, state.InfArgument);
      break;
    case RunMode::Default:
      for (const char* inf : kDefaultInfs) InstallInf(state, inf);
      break;
  }
  return 1;
}
