// The program's entry on both sides: the Windows runtime start-up, or the simulated
// one, enters WinMain and turns its result into the exit code.
#include "app/command_tail.h"
#include "app/dll_search.h"
#include "app/run_installer.h"
#include "platform/platform.h"

// The tail that the runtime start-up hands over is not used: the program forms its
// own from the whole command line (command_tail.h).
int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*startupTail*/,
                   int /*showCommand*/) {
  // Before anything else can load a DLL by name.
  HardenDllSearch();
  static RunState state;  // zeroed at start, lives until the process ends
  return RunInstaller(state, CommandTailOf(GetCommandLineA()));
}
