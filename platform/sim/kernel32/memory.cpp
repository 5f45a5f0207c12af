// KERNEL32's release of what the simulated security calls hand out (advapi32/security.cpp):
// the token of the running process, and the memory of descriptors.
#include "platform/sim/advapi32/security.h"
#include "platform/sim/calls.h"
#include "platform/sim/machine.h"

BOOL WINAPI CloseHandle(HANDLE object) {
  SIM_CALL(CloseHandle);
  return sim::CloseToken(object) ? TRUE : sim::FailWith(ERROR_INVALID_HANDLE);
}

// Not counted (calls.h). A block that was not handed out comes back, as Windows hands back
// what it cannot free.
HLOCAL WINAPI LocalFree(HLOCAL memory) {
  if (memory == nullptr || sim::FreeHandedOut(memory)) return nullptr;
  sim::TheMachine().lastError = ERROR_INVALID_HANDLE;
  return memory;
}
