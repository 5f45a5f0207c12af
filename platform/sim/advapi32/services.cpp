// The simulated service control manager. A service is a key
// HKLM\SYSTEM\CurrentControlSet\Services\<name>; deleting the service deletes the key
// at once (Windows waits for the last handle, which no caller here can tell apart).
#include <memory>
#include <string>

#include "platform/sim/calls.h"
#include "platform/sim/handle_table.h"
#include "platform/sim/machine.h"

namespace sim {
namespace {

struct ServiceHandle {
  std::string serviceName;  // as the key spells it; empty for the manager
};

HandleTable<SC_HANDLE, ServiceHandle>& ServiceHandles() {
  static HandleTable<SC_HANDLE, ServiceHandle> table(0x20000);
  return table;
}

// Windows always has it; another program may delete what it holds.
std::shared_ptr<RegKey> ServicesKey() {
  return CreateKeyPath(TheMachine().localMachine, kServicesKeyPath);
}

}  // namespace

int OpenServiceHandleCount() {
  return ServiceHandles().Count();
}

}  // namespace sim

using namespace sim;

// Only the local machine's active database is simulated, which the installer asks for.
SC_HANDLE WINAPI OpenSCManagerA(LPCSTR /*machineName*/, LPCSTR /*databaseName*/, DWORD /*access*/) {
  SIM_CALL(OpenSCManagerA);
  return ServiceHandles().Add(ServiceHandle{std::string()});
}

// The installer passes the manager it opened, and the service's name from the string table,
// which is no path: empty when the table did not load.
SC_HANDLE WINAPI OpenServiceA(SC_HANDLE /*manager*/, LPCSTR serviceName, DWORD /*access*/) {
  SIM_CALL(OpenServiceA, serviceName);
  if (*serviceName == '\0') return FailWith<SC_HANDLE>(ERROR_INVALID_NAME);
  const std::shared_ptr<RegKey> key = FindSubkey(*ServicesKey(), serviceName);
  if (key == nullptr) return FailWith<SC_HANDLE>(ERROR_SERVICE_DOES_NOT_EXIST);
  return ServiceHandles().Add(ServiceHandle{key->name});
}

BOOL WINAPI DeleteService(SC_HANDLE handle) {
  const ServiceHandle& service = *ServiceHandles().Find(handle);
  SIM_CALL(DeleteService, service.serviceName);
  // Another program deleted the service since it was opened.
  if (!DeleteSubkeyTree(*ServicesKey(), service.serviceName))
    return FailWith(ERROR_SERVICE_MARKED_FOR_DELETE);
  return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) {
  SIM_CALL(CloseServiceHandle, ServiceHandles().Find(handle)->serviceName);
  ServiceHandles().Close(handle);
  return TRUE;
}
