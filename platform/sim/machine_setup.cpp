#include "platform/sim/machine_setup.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "platform/sim/machine.h"
#include "platform/sim/registry_tree.h"

namespace sim {

MachineSetup& TheSetup() {
  static MachineSetup setup;
  return setup;
}

// What the tests set up: no call of the installer reaches it.
// GCOVR_EXCL_BR_START
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

// GCOVR_EXCL_BR_STOP

DWORD NetworkDriveError(char drive) {
  const MachineSetup& setup = TheSetup();
  if (setup.networkDrive == '\0' || std::toupper(static_cast<unsigned char>(drive)) != setup.networkDrive) {
    return 0;
  }
  const std::string adapter = std::string(kEnumKeyPath) + "\\" + setup.networkAdapter;
  return FindKeyPath(TheMachine().localMachine, adapter) != nullptr ? 0 : ERROR_NETNAME_DELETED;
}

}  // namespace sim

// Like Windows, the machine tells what it is in its environment settings: "x86" there
// is 32-bit Windows, anything else (or nothing) 64-bit Windows.
bool RegistryHasSeparate32BitView() {
  const std::shared_ptr<sim::RegKey> environment = sim::FindKeyPath(
      sim::TheMachine().localMachine, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment");
  const sim::RegValue* architecture =
      environment != nullptr ? sim::FindValue(*environment, "PROCESSOR_ARCHITECTURE") : nullptr;
  if (architecture == nullptr) return true;
  const std::string text(architecture->data.begin(), architecture->data.end());
  return !sim::NamesEqual(text.c_str(), "x86");
}
