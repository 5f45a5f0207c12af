#include "devices/driver_service.h"

#include "platform/platform.h"

void DeleteDriverService(const char* serviceName) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return;
  // An empty name (the string table did not load it) opens nothing.
  SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_ALL_ACCESS);
  if (service != nullptr) {
    // A service already gone or marked for deletion is what this step wants anyway.
    DeleteService(service);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
}
