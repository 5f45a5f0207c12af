// KERNEL32 calls about the running process, over the machine's setup.
#include "platform/sim/machine_setup.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "platform/sim/calls.h"
#include "platform/sim/machine.h"
#include "platform/sim/registry_tree.h"

namespace sim {

MachineSetup& TheSetup() {
  static MachineSetup setup;
  return setup;
}

void ResetSetup(const std::string& currentDirectory) {
  MachineSetup& setup = TheSetup();
  setup = MachineSetup();
  const bool root = !currentDirectory.empty() && currentDirectory.back() == '\\';
  setup.programImage = currentDirectory + (root ? "" : "\\") + "qnetprep.exe";
}

void ApplySetupEnvironment() {
  MachineSetup& setup = TheSetup();
  if (const char* image = std::getenv("QNETPREP_PROGRAM"); image != nullptr && *image != '\0') {
    setup.programImage = image;
  }
  if (const char* wow64 = std::getenv("QNETPREP_WOW64")) setup.underWow64 = std::strcmp(wow64, "1") == 0;
  if (const char* drive = std::getenv("QNETPREP_NETWORK_DRIVE"); drive != nullptr && drive[0] != '\0') {
    setup.networkDrive = static_cast<char>(std::toupper(static_cast<unsigned char>(drive[0])));
    setup.networkAdapter = drive[1] == '=' ? drive + 2 : "";
  }
}

DWORD NetworkDriveError(char drive) {
  const MachineSetup& setup = TheSetup();
  if (setup.networkDrive == '\0' || std::toupper(static_cast<unsigned char>(drive)) != setup.networkDrive) {
    return 0;
  }
  const std::string adapter = std::string(kEnumKeyPath) + "\\" + setup.networkAdapter;
  return FindKeyPath(TheMachine().localMachine, adapter) != nullptr ? 0 : ERROR_NETNAME_DELETED;
}

}  // namespace sim

// Windows' rule since Vista: a path that does not fit is cut short with its NUL, and
// the call returns the buffer's size.
DWORD WINAPI GetModuleFileNameA(HMODULE /*module*/, LPSTR fileName, DWORD size) {
  SIM_CALL(GetModuleFileNameA);
  const std::string& image = sim::TheSetup().programImage;
  if (image.size() < size) {
    std::memcpy(fileName, image.c_str(), image.size() + 1);
    return static_cast<DWORD>(image.size());
  }
  std::memcpy(fileName, image.data(), size - 1);
  fileName[size - 1] = '\0';
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}

// The pseudo handle of the process itself: not a call that can fail, so not counted.
HANDLE WINAPI GetCurrentProcess() {
  return reinterpret_cast<HANDLE>(~static_cast<ULONG_PTR>(0));
}

BOOL WINAPI IsWow64Process(HANDLE /*process*/, PBOOL wow64Process) {
  SIM_CALL(IsWow64Process);
  *wow64Process = sim::TheSetup().underWow64 ? TRUE : FALSE;
  return TRUE;
}
