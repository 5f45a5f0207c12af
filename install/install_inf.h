#pragma once

#include "app/run_state.h"

// Pre-installs one INF file from the install folder, which StagePackage filled before
// the clean-up, into the system's INF store; in RecordMode also records the outcome
// and the stored INF's path in a free slot, writes the Add/Remove entry and copies the
// program into the system folder. Returns whether the INF was pre-installed (and, in
// RecordMode, recorded with its Add/Remove entry); false at once when the strings
// cannot be loaded or the staging could not read the current folder.
bool InstallInf(RunState& state, const char* infName);
