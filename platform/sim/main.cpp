// The simulated runtime start-up: what the Windows C runtime does before and after
// WinMain, over the machine kept in the machine folder.
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/sim/sim_control.h"
#include "platform/sim/win32_api.h"

int main(int argc, char** argv) {
  std::error_code error;
  std::string currentDirectory = std::filesystem::current_path(error).string();
  if (error) currentDirectory = "/";
  sim::OpenMachine(sim::DefaultMachineFolder(), currentDirectory);
  sim::ApplyEnvironmentSettings();

  // Linux hands over a list of arguments; Windows would hand over the line less the
  // program's name and the blanks after it: the arguments in order, one space apart.
  std::string commandTail;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) commandTail += ' ';
    commandTail += argv[i];
  }
  const int result = WinMain(GetModuleHandleA(nullptr), nullptr, commandTail.data(), 0);
  std::fflush(stdout);
  sim::SaveMachine();
  sim::WriteCallLogIfAsked();
  return result;
}
