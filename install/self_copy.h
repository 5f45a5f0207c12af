#pragma once

#include "app/run_state.h"

// Copies the running program's image (its path from the loader, whatever its name or
// folder) into the install folder as <product>.exe, replacing an older copy, so that
// the self-copy below never needs the package folder again. Silent, as the rest of
// the staging: an image whose path does not fit, or a failed copy, copies nothing.
// Needs state.InstallFolder.
void StageOwnImage(RunState& state);

// Copies <product>.exe from the install folder into the system folder, replacing an
// older copy, so that the Add/Remove entry's uninstall command finds it. Reports a
// failure to clear the old copy's attributes (even "not found") and a failed copy
// other than "not found" on standard output; never fails the install.
void CopySelfToSystemFolder(RunState& state);
