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
  bool isManager = false;
  std::string serviceName;  // as the key spells it; empty for the manager
};

HandleTable<SC_HANDLE, ServiceHandle>& ServiceHandles() {
  static HandleTable<SC_HANDLE, ServiceHandle> table(0x20000);
  return table;
}

std::shared_ptr<RegKey> ServicesKey() {
  return FindKeyPath(TheMachine().localMachine, kServicesKeyPath);
}

}  // namespace

int OpenServiceHandleCount() {
  return ServiceHandles().Count();
}

}  // namespace sim

using namespace sim;

// Only the local machine's active database is simulated, whatever the names ask for.
SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machineName, LPCSTR /*databaseName*/, DWORD /*access*/) {
  SIM_CALL(OpenSCManagerA, machineName != nullptr ? machineName : "");
  return ServiceHandles().Add(ServiceHandle{true, std::string()});
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE managerHandle, LPCSTR serviceName, DWORD /*access*/) {
  SIM_CALL(OpenServiceA, serviceName != nullptr ? serviceName : "");
  const ServiceHandle* manager = ServiceHandles().Find(managerHandle);
  if (manager == nullptr || !manager->isManager) return FailWith<SC_HANDLE>(ERROR_INVALID_HANDLE);
  const std::string name = serviceName != nullptr ? serviceName : "";
  if (name.empty() || name.find_first_of("\\/") != std::string::npos)
    return FailWith<SC_HANDLE>(ERROR_INVALID_NAME);
  const std::shared_ptr<RegKey> servicesKey = ServicesKey();
  const std::shared_ptr<RegKey> key = servicesKey != nullptr ? FindSubkey(*servicesKey, name) : nullptr;
  if (key == nullptr) return FailWith<SC_HANDLE>(ERROR_SERVICE_DOES_NOT_EXIST);
  return ServiceHandles().Add(ServiceHandle{false, key->name});
}

BOOL WINAPI DeleteService(SC_HANDLE handle) {
  const ServiceHandle* service = ServiceHandles().Find(handle);
  SIM_CALL(DeleteService, service != nullptr ? service->serviceName : "");
  if (service == nullptr || service->isManager) return FailWith(ERROR_INVALID_HANDLE);
  // An open handle to a service that is already being deleted.
  const std::shared_ptr<RegKey> servicesKey = ServicesKey();
  if (servicesKey == nullptr || !DeleteSubkeyTree(*servicesKey, service->serviceName))
    return FailWith(ERROR_SERVICE_MARKED_FOR_DELETE);
  return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) {
  const ServiceHandle* object = ServiceHandles().Find(handle);
  SIM_CALL(CloseServiceHandle, object != nullptr ? object->serviceName : "");
  return ServiceHandles().Close(handle) ? TRUE : FailWith(ERROR_INVALID_HANDLE);
}
