// The installer's start-up over the simulated machine: the command line that Windows
// would have given the process, built from the Linux arguments.
#include <cstdlib>
#include <string>

#include "platform/sim/machine.h"
#include "platform/sim/runtime_start.h"
#include "platform/sim/win32_api.h"

int main(int argc, char** argv) {
  // Linux hands over a list of arguments; Windows hands over one line: the program's
  // name, then the arguments in order, one space apart. QNETPREP_COMMAND_LINE gives the
  // whole line byte for byte instead, as a caller of CreateProcessA would.
  const char* given = std::getenv("QNETPREP_COMMAND_LINE");
  std::string commandLine = given != nullptr ? given : "qnetprep.exe";
  for (int i = 1; given == nullptr && i < argc; ++i) {
    commandLine += ' ';
    commandLine += argv[i];
  }
  sim::SetCommandLine(commandLine);
  // The instance handle is the start-up's own knowledge, not a call the program makes.
  return sim::RunProgram([] { return WinMain(sim::ProgramModule(), nullptr, GetCommandLineA(), 0); });
}
