// The simulated Windows machine that every simulated call works on: one per process.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/sim/folder_security.h"
#include "platform/sim/registry_tree.h"
#include "platform/sim/win32_api.h"

namespace sim {

struct Machine {
  std::string folder;                    // the Linux folder that holds the machine
  std::shared_ptr<RegKey> localMachine;  // HKEY_LOCAL_MACHINE
  std::string currentDirectory;          // Windows form, for example "C:\pkg" or "Z:\tmp\pkg"
  DWORD lastError = 0;
  // Read-only, hidden and system bits of the files that have any, by Linux path.
  std::map<std::string, DWORD> fileAttributes;
  // The descriptors given to files and folders, by Linux path (folder_security.h).
  std::map<std::string, Security> security;
};

Machine& TheMachine();

// Sets the last error and returns what the call returns when it fails: FALSE, 0, nullptr.
template <typename Result = BOOL>
Result FailWith(DWORD error) {
  TheMachine().lastError = error;
  return Result{};
}

// The whole of a Linux file; false when it cannot be read.
bool ReadWholeFile(const std::string& linuxPath, std::string* text);

// The module handle of the running program, as GetModuleHandleA(nullptr) returns it.
inline HMODULE ProgramModule() {
  return reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x400000));
}

// Registry paths of the simulated device tree and service list (below HKLM).
constexpr const char* kEnumKeyPath = "SYSTEM\\CurrentControlSet\\Enum";
constexpr const char* kServicesKeyPath = "SYSTEM\\CurrentControlSet\\Services";

}  // namespace sim
