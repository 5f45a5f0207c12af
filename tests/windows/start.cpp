// Starts a program with a command line given byte for byte, in hexadecimal (a shell would
// quote it again, and Wine reads Linux arguments as UTF-8), in the current folder, with this
// program's standard handles, and returns the program's exit code.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  const char* hex = argc == 2 ? argv[1] : "";
  static char commandLine[32768];
  for (size_t i = 0; hex[2 * i] != '\0' && i + 1 < sizeof commandLine; ++i) {
    unsigned value = 0;
    std::sscanf(hex + 2 * i, "%2x", &value);
    commandLine[i] = static_cast<char>(value);
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  DWORD exitCode = 101;
  if (CreateProcessA(nullptr, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &exitCode);
  }
  return static_cast<int>(exitCode);
}
