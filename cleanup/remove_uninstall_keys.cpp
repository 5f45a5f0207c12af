#include "cleanup/remove_uninstall_keys.h"

void RemoveUninstallKeys(RunState& /*state*/) {}
