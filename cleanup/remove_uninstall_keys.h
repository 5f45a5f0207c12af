#pragma once

#include "app/run_state.h"

// Removes the product key and the Add/Remove entries whole, whatever they hold.
void RemoveUninstallKeys(RunState& state);
