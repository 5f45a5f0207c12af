#pragma once

#include "app/run_state.h"

// Deletes the INF and PNF files that an earlier recorded install left in the INF
// store (but the copies that this run's install uses, state.StoredInfs), then its record keys and Add/Remove
// entry; a slot that names no file (missing, too long, unterminated, of another type) is passed over, the
// rest still goes. Changes nothing when the record keys are not there. True when slot 0 named a file and the
// Add/Remove list could be opened.
bool RemoveInstalledInfs(RunState& state);
