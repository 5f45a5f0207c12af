#include "app/wow64.h"

#include "app/kernel32_function.h"
#include "platform/platform.h"

namespace {

using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);

}  // namespace

bool RunsUnderWow64() {
  const auto isWow64Process = FindKernel32Function<IsWow64ProcessFunction>("IsWow64Process");
  BOOL wow64 = FALSE;
  return isWow64Process != nullptr && isWow64Process(GetCurrentProcess(), &wow64) && wow64 != FALSE;
}
