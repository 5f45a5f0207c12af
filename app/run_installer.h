#pragma once

#include "app/run_state.h"

// The body of WinMain: reads the tail, chooses the mode and runs its steps in their
// fixed order. Returns 1, the exit code of every run, whatever the steps achieved.
int RunInstaller(RunState& state, const char* commandTail);
