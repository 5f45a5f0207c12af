// The installer's start-up over the simulated machine: the command-line tail that
// Windows hands to WinMain, built from the Linux arguments.
#include <string>

#include "platform/sim/runtime_start.h"
#include "platform/sim/win32_api.h"

int main(int argc, char** argv) {
  // Linux hands over a list of arguments; Windows would hand over the line less the
  // program's name and the blanks after it: the arguments in order, one space apart.
  std::string commandTail;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) commandTail += ' ';
    commandTail += argv[i];
  }
  return sim::RunProgram(
      [&commandTail] { return WinMain(GetModuleHandleA(nullptr), nullptr, commandTail.data(), 0); });
}
