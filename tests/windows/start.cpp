// Starts a program with a command line byte for byte, as a shell cannot (it would
// quote the arguments again), in the current folder, and returns the program's exit
// code. Standard output is handed on, so the program's lines reach the caller.
//
//   qnetprep_start <command line in hexadecimal, two digits a byte>
//
// Hexadecimal, because Wine turns the Linux arguments into text by the Linux character
// set: a byte above 127 that is no UTF-8 would not arrive as it was.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) return 100;
  static char commandLine[32768];
  for (size_t i = 0; argv[1][2 * i] != '\0' && argv[1][2 * i + 1] != '\0' && i + 1 < sizeof commandLine;
       ++i) {
    unsigned value = 0;
    std::sscanf(argv[1] + 2 * i, "%2x", &value);
    commandLine[i] = static_cast<char>(value);
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::fprintf(stderr, "CreateProcessA failed, error %lu\n", GetLastError());
    return 101;
  }
  DWORD exitCode = 102;
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &exitCode);
  return static_cast<int>(exitCode);
}
