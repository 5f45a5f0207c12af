// The simulated service control manager. A service is a key
// HKLM\SYSTEM\CurrentControlSet\Services\<name>; deleting the service deletes the key
// at once (Windows waits for the last handle, which no caller here can tell apart).
#include <map>
#include <memory>
#include <string>

#include "platform/sim/calls.h"
#include "platform/sim/machine.h"

namespace sim {
namespace {

struct ServiceHandle {
  bool isManager = false;
  std::string serviceName;  // as the key spells it; empty for the manager
};

std::map<SC_HANDLE, std::unique_ptr<ServiceHandle>>& ServiceHandles() {
  static std::map<SC_HANDLE, std::unique_ptr<ServiceHandle>> handles;
  return handles;
}

ServiceHandle* FindHandle(SC_HANDLE handle) {
  auto found = ServiceHandles().find(handle);
  return found == ServiceHandles().end() ? nullptr : found->second.get();
}

SC_HANDLE AddHandle(std::unique_ptr<ServiceHandle> object) {
  const SC_HANDLE handle = reinterpret_cast<SC_HANDLE>(object.get());
  ServiceHandles()[handle] = std::move(object);
  return handle;
}

std::shared_ptr<RegKey> ServicesKey() {
  return FindKeyPath(TheMachine().localMachine, kServicesKeyPath);
}

}  // namespace

int OpenServiceHandleCount() {
  return static_cast<int>(ServiceHandles().size());
}

}  // namespace sim

using namespace sim;

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD /*access*/) {
  SC_HANDLE faulted = nullptr;
  if (Intercept("OpenSCManagerA", machineName != nullptr ? machineName : "", nullptr, ERROR_ACCESS_DENIED,
                &faulted))
    return faulted;
  if (machineName != nullptr && *machineName != '\0') {
    SetLastError(ERROR_INVALID_NAME);  // only the local machine is simulated
    return nullptr;
  }
  if (databaseName != nullptr && !NamesEqual(databaseName, "ServicesActive")) {
    SetLastError(ERROR_DATABASE_DOES_NOT_EXIST);
    return nullptr;
  }
  auto manager = std::make_unique<ServiceHandle>();
  manager->isManager = true;
  return AddHandle(std::move(manager));
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE managerHandle, LPCSTR serviceName, DWORD /*access*/) {
  SC_HANDLE faulted = nullptr;
  if (Intercept("OpenServiceA", serviceName != nullptr ? serviceName : "", nullptr, ERROR_ACCESS_DENIED,
                &faulted))
    return faulted;
  const ServiceHandle* manager = FindHandle(managerHandle);
  if (manager == nullptr || !manager->isManager) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const std::string name = serviceName != nullptr ? serviceName : "";
  if (name.empty() || name.find_first_of("\\/") != std::string::npos) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  const std::shared_ptr<RegKey> servicesKey = ServicesKey();
  const std::shared_ptr<RegKey> key = servicesKey != nullptr ? FindSubkey(*servicesKey, name) : nullptr;
  if (key == nullptr) {
    SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
  }
  auto service = std::make_unique<ServiceHandle>();
  service->serviceName = key->name;
  return AddHandle(std::move(service));
}

BOOL WINAPI DeleteService(SC_HANDLE handle) {
  const ServiceHandle* service = FindHandle(handle);
  BOOL faulted = FALSE;
  if (Intercept("DeleteService", service != nullptr ? service->serviceName : "", FALSE, ERROR_ACCESS_DENIED,
                &faulted))
    return faulted;
  if (service == nullptr || service->isManager) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // An open handle to a service that is already being deleted.
  const std::shared_ptr<RegKey> servicesKey = ServicesKey();
  if (servicesKey == nullptr || !DeleteSubkeyTree(*servicesKey, service->serviceName)) {
    SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) {
  const ServiceHandle* object = FindHandle(handle);
  BOOL faulted = FALSE;
  if (Intercept("CloseServiceHandle", object != nullptr ? object->serviceName : "", FALSE,
                ERROR_INVALID_HANDLE, &faulted))
    return faulted;
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  ServiceHandles().erase(handle);
  return TRUE;
}
