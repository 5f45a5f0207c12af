#pragma once

#include "app/run_state.h"

// An install in two halves, so that nothing of an earlier install is removed before every INF of the
// run is in the system's INF store: the pre-install before the clean-up, the records after it.

// Pre-installs one INF from the install folder, which StagePackage filled, into the INF store and
// keeps the stored copy's path in state.StoredInfs[slot], with whether this run made the copy. False
// when the current folder was not read, the INF's path cannot be composed, the install's record keys
// (the vendor key; in RecordMode the product key) cannot be created, or the system refuses the INF.
bool PreInstallInf(RunState& state, InfSlot slot, const char* infName);

// After the clean-up, in RecordMode: records the INF pre-installed into `slot` ("Install",
// "reboot", "Version", the slot value), writes the Add/Remove entry and copies the program into
// the system folder; no self-copy when a record key, the slot value or the entry cannot be written.
void RecordInstalledInf(RunState& state, InfSlot slot);

// What a failed install leaves in the registry: the vendor key, and in RecordMode "Install" =
// "Fail" in the product key. Every other record stays as the earlier install left it.
void RecordFailedInstall(const RunState& state);
