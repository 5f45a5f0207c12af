// The program's entry on both sides: the Windows runtime start-up, or the simulated
// one, hands WinMain the command-line tail and turns its result into the exit code.
#include "app/run_installer.h"
#include "platform/platform.h"

// NOLINTNEXTLINE(readability-non-const-parameter): the signature is the runtime's.
int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR commandTail, int /*showCommand*/) {
  static RunState state;  // zeroed at start, lives until the process ends
  return RunInstaller(state, commandTail != nullptr ? commandTail : "");
}
