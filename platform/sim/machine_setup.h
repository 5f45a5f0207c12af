// How the simulated machine runs the program, beyond its registry and drives: the
// image that it runs from, whether it is a 64-bit Windows running it under WOW64, and
// a network drive that an adapter of the machine reaches.
#pragma once

#include <string>

#include "platform/sim/win32_api.h"

namespace sim {

struct MachineSetup {
  std::string programImage;       // the Windows path that GetModuleFileNameA gives
  bool underWow64 = false;        // a 32-bit program on 64-bit Windows
  char networkDrive = '\0';       // the letter of a drive on a share; '\0': none
  bool japaneseCodePage = false;  // code page 932 instead of a Western single-byte one
  std::string networkAdapter;     // the instance id of the adapter that reaches it
};

MachineSetup& TheSetup();

// A new machine's setup: the program started from the current folder as qnetprep.exe,
// as from a package folder; a Windows of its own bitness; no network drive.
void ResetSetup(const std::string& currentDirectory);

// Environment settings that a test process reads at start (see runtime_start.cpp):
//   QNETPREP_PROGRAM        the Windows path of the program's image
//   QNETPREP_WOW64          1: a 64-bit Windows running the program under WOW64
//   QNETPREP_NETWORK_DRIVE  N=<adapter instance id>: drive N: is a share reached
//                           through that adapter
void ApplySetupEnvironment();

// Windows stops a device as it removes it: once the adapter that reaches the network
// drive is gone from the device tree, every file of the drive is out of reach with
// ERROR_NETNAME_DELETED. 0 for any other drive, or while the adapter is there.
DWORD NetworkDriveError(char drive);

}  // namespace sim
