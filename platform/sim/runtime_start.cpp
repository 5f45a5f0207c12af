#include "platform/sim/runtime_start.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/sim/machine_setup.h"
#include "platform/sim/sim_control.h"

namespace sim {

std::string& CommandLine() {
  static std::string commandLine;
  return commandLine;
}

void SetCommandLine(const std::string& commandLine) {
  CommandLine() = commandLine;
}

int RunProgram(const std::function<int()>& entry) {
  std::error_code error;
  std::string currentDirectory = std::filesystem::current_path(error).string();
  if (error) currentDirectory = "/";  // GCOVR_EXCL_BR_LINE: a host that cannot name its current folder
  OpenMachine(DefaultMachineFolder(), currentDirectory);
  ApplyEnvironmentSettings();
  ApplySetupEnvironment();
  const int result = entry();
  (void)std::fflush(stdout);
  SaveMachine();
  WriteCallLogIfAsked();
  return result;
}

}  // namespace sim
