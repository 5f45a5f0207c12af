#include "platform/sim/runtime_start.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/sim/sim_control.h"

namespace sim {

int RunProgram(const std::function<int()>& entry) {
  std::error_code error;
  std::string currentDirectory = std::filesystem::current_path(error).string();
  if (error) currentDirectory = "/";
  OpenMachine(DefaultMachineFolder(), currentDirectory);
  ApplyEnvironmentSettings();
  const int result = entry();
  std::fflush(stdout);
  SaveMachine();
  WriteCallLogIfAsked();
  return result;
}

}  // namespace sim
