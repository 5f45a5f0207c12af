#pragma once

#include "app/run_state.h"

// Creates or refreshes the product's entry in the Add/Remove Programs list, whose
// uninstall command starts the self-copy in the system folder with "/u". False when
// the list cannot be opened, the entry cannot be created or a value cannot be set.
bool WriteAddRemoveEntry(const RunState& state);
