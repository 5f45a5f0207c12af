#pragma once

#include "app/run_state.h"

// Stages the package and pre-installs one INF file into the system's INF store; in
// RecordMode also records the outcome, the Add/Remove entry and the self-copy.
bool InstallInf(RunState& state, const char* infName);
