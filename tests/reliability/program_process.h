// Runs the built qnetprep as a process on a machine folder, as the crash tests need:
// only a process can be stopped in the middle of a run and started again.
#pragma once

#include <string>
#include <vector>

struct ProgramRun {
  int exitCode = -1;  // -1 when the process did not end normally
  std::string output;
  std::string errors;
  std::vector<std::string> calls;  // the call log, one call a line
};

// Starts the program in the machine's C:\pkg with `arguments`, with the given extra
// environment settings ("NAME=value"), and waits for it.
ProgramRun RunProgram(const std::string& machineFolder, const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment);
