#pragma once

#include "app/run_state.h"

// Deletes the INF and PNF files that an earlier recorded install left in the INF
// store, then its record keys and Add/Remove entry.
bool RemoveInstalledInfs(RunState& state);
