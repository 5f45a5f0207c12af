#pragma once

#include "app/run_state.h"

// Copies the ten string-table entries that the steps use into `state`, in the fixed
// order 1, 2, 3, 4, 11, 5, 7, 8, 9, 10. Stops at the first entry that loads no text
// and returns false; the entries loaded before it keep their new text.
bool LoadResourceStrings(RunState& state);
