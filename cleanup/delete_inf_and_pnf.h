#pragma once

#include "app/run_state.h"

// Removes a stored INF of the package through the system's own uninstall (which also
// takes its catalog and driver store copy), then deletes the INF file and the
// precompiled ".pnf" file that the system keeps beside it (when the path ends in
// ".inf"), whatever the system did.
//
// A record slot is registry data that anyone with administrator rights can have
// written, and the system reuses a removed package's stored name: a path that is not
// directly in the system's INF folder, or whose stored INF the system does not say was
// installed from the package (IsPackageStoredInf), names nothing and is left alone
// entirely. Otherwise attributes are cleared first (a failure other than "not found" is
// reported on standard output).
void DeleteInfAndPnf(const RunState& state, const char* infPath);

// The removal itself, for a stored copy that is known to be the package's: one that this run
// made. A path that is not directly in the system's INF folder is still left alone.
void RemoveStoredInf(const char* infPath);
