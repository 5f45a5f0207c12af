// The process-wide state that every step shares. Zeroed at start and never reset
// between steps: one run, one RunState.
#pragma once

#include "records/records.h"

struct RunState {
  bool RecordMode;

  // String-table entries 1 to 5 and 7 to 11 (entry 6 is read by the device list
  // reader into a buffer of its own). Empty until first loaded.
  char VendorKey[kTextCapacity];
  char ProductName[kTextCapacity];
  char Parameters[kTextCapacity];
  char RenamedInf[kTextCapacity];
  char ServiceName[kTextCapacity];
  char UninstallKey[kTextCapacity];
  char DisplayName[kTextCapacity];
  char UninstallCommand[kTextCapacity];
  char Version[kTextCapacity];
  char RenamedInf1[kTextCapacity];

  char InfArgument[kTextCapacity];    // single-INF mode only
  char SourceFolder[kTextCapacity];   // the current folder, read with a capacity of MAX_PATH
  char InstallFolder[kTextCapacity];  // ends with a backslash
  char SourceInfPath[kTextCapacity];  // also receives the record slots during clean-up
  char SystemFolder[kTextCapacity];
  char ExecutableName[kTextCapacity];

  // What the install put into the system's INF store, by the slot that each INF's record
  // takes: the clean-up must leave these copies, and a failed install takes its own out.
  StoredInf StoredInfs[kInfSlotCount];
};
