// SHLWAPI's key deletion: the whole tree below the key, over ADVAPI32's registry.
#include "platform/sim/advapi32/registry.h"
#include "platform/sim/calls.h"

LSTATUS WINAPI SHDeleteKeyA(HKEY key, LPCSTR subKey) {
  SIM_CALL(SHDeleteKeyA, sim::KeyDetail(key, subKey));
  return sim::DeleteKey(key, subKey, true);
}
