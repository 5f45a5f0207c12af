// The simulated C runtime start-up: what the Windows C runtime does before and after a
// program's entry (WinMain, called from main.cpp), over the machine kept in the machine
// folder.
#pragma once

#include <functional>
#include <string>

namespace sim {

// Opens the machine of QNETPREP_MACHINE (or the default folder) with the Linux current
// folder as the Windows current folder, applies the test settings of the environment,
// runs `entry`, then flushes standard output, saves the machine and writes the call
// log when asked. Returns the entry's result, which becomes the exit code.
int RunProgram(const std::function<int()>& entry);

// The line that GetCommandLineA hands back, as the process was started with it.
void SetCommandLine(const std::string& commandLine);
std::string& CommandLine();

}  // namespace sim
