#include "app/dll_search.h"

#include "app/kernel32_function.h"
#include "platform/platform.h"

namespace {

// Looked up at run time: Windows before 8 has it only with a later update.
using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

}  // namespace

void HardenDllSearch() {
  const auto setDefaultDllDirectories =
      FindKernel32Function<SetDefaultDllDirectoriesFunction>("SetDefaultDllDirectories");
  if (setDefaultDllDirectories != nullptr && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  SetDllDirectoryA("");
}
