// The start-up of a console program built over the simulated machine. Its own `main`,
// unchanged from the Windows build, is compiled under the name QnetprepConsoleMain
// (see tests/sim_tools), and this `main` runs it the way the Windows C runtime runs
// `main`, with the machine opened before and saved after.
#include "platform/sim/runtime_start.h"

int QnetprepConsoleMain(int argc, char** argv);

int main(int argc, char** argv) {
  return sim::RunProgram([argc, argv] { return QnetprepConsoleMain(argc, argv); });
}
