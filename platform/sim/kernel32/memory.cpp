// KERNEL32's release of what the simulated security calls hand out (advapi32/security.cpp):
// the token of the running process, and the memory of descriptors.
#include "platform/sim/advapi32/security.h"
#include "platform/sim/calls.h"

BOOL WINAPI CloseHandle(HANDLE object) {
  SIM_CALL(CloseHandle);
  sim::CloseToken(object);
  return TRUE;
}

// Not counted (calls.h). The installer closes only the token it opened and frees only the
// descriptors that calls handed out.
HLOCAL WINAPI LocalFree(HLOCAL memory) {
  sim::FreeHandedOut(memory);
  return nullptr;
}
