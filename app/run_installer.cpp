#include "app/run_installer.h"

#include "app/options.h"
#include "app/resource_strings.h"
#include "cleanup/remove_installed_infs.h"
#include "cleanup/remove_uninstall_keys.h"
#include "devices/device_classes.h"
#include "devices/remove_devices.h"
#include "install/install_inf.h"

namespace {

constexpr const char* kDefaultInfs[] = {"net7341a.inf", "net73417.inf"};

// Every mode first clears what an earlier install left, before anything is installed.
void ClearEarlierInstall(RunState& state) {
  RemoveDevicesOfClass(state, GUID_DEVCLASS_NET);
  RemoveDevicesOfClass(state, GUID_DEVCLASS_OTHER);
  RemoveInstalledInfs(state);
}

}  // namespace

int RunInstaller(RunState& state, const char* commandTail) {
  const CommandOptions options = ReadCommandOptions(commandTail, state.InfArgument, sizeof state.InfArgument);
  state.RecordMode = options.recordMode;
  // The steps that need the strings load them again and give up on their own; only
  // the key removal of the uninstall depends on this first load.
  const bool stringsLoaded = LoadResourceStrings(state);

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
