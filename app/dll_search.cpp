#include "app/dll_search.h"

#include <cstring>

#include "platform/platform.h"

namespace {

// Looked up at run time: Windows before 8 has it only with a later update.
using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

SetDefaultDllDirectoriesFunction FindSetDefaultDllDirectories() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return nullptr;
  const FARPROC found = GetProcAddress(kernel, "SetDefaultDllDirectories");
  // FARPROC and the real signature differ; copying the pointer keeps the compiler from
  // warning about a cast between function types.
  SetDefaultDllDirectoriesFunction function = nullptr;
  static_assert(sizeof function == sizeof found, "function pointers of one size");
  std::memcpy(&function, &found, sizeof function);
  return function;
}

}  // namespace

void HardenDllSearch() {
  const SetDefaultDllDirectoriesFunction setDefaultDllDirectories = FindSetDefaultDllDirectories();
  if (setDefaultDllDirectories != nullptr && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  SetDllDirectoryA("");
}
