#pragma once

#include "app/run_state.h"

// Copies <product>.exe from the current folder into the system folder, replacing an
// older copy, so that the Add/Remove entry's uninstall command finds it. Reports a
// failure to clear the old copy's attributes (even "not found") and a failed copy
// other than "not found" on standard output; never fails the install.
void CopySelfToSystemFolder(RunState& state);
