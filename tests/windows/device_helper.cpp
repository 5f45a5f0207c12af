// Seeds and inspects the devices of a Windows machine for the end-to-end tests:
//
//   qnetprep_devices create <net|other> <instance id> [description]
//   qnetprep_devices list <net|other>
//   qnetprep_devices remove <net|other> <instance id>
//
// A created device is registered, so a DIGCF_PRESENT set of its class lists it, like a
// card in a slot. Without a description argument it gets no SPDRP_DEVICEDESC at all.
// Exit code 0 on success, 1 for a usage error, 2 when a call fails (its error on stderr).
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "tests/windows/device_classes.h"
#include "tests/windows/device_listing.h"

namespace {

int Fail(const char* call) {
  const unsigned long error = GetLastError();
  std::fprintf(stderr, "%s failed, error %lu (0x%lx)\n", call, error, error);
  return 2;
}

int CreateDevice(const TestDeviceClass& deviceClass, const char* instanceId, const char* description) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(&deviceClass.guid, nullptr);
  if (set == INVALID_HANDLE_VALUE) return Fail("SetupDiCreateDeviceInfoList");
  SP_DEVINFO_DATA data;
  data.cbSize = sizeof data;
  int result = 0;
  if (!SetupDiCreateDeviceInfoA(set, instanceId, &deviceClass.guid, nullptr, nullptr, 0, &data)) {
    result = Fail("SetupDiCreateDeviceInfoA");
  } else if (description != nullptr &&
             !SetupDiSetDeviceRegistryPropertyA(set, &data, SPDRP_DEVICEDESC,
                                                reinterpret_cast<const BYTE*>(description),
                                                static_cast<DWORD>(std::strlen(description) + 1))) {
    result = Fail("SetupDiSetDeviceRegistryPropertyA");
  } else if (!SetupDiRegisterDeviceInfo(set, &data, 0, nullptr, nullptr, nullptr)) {
    result = Fail("SetupDiRegisterDeviceInfo");
  }
  SetupDiDestroyDeviceInfoList(set);
  return result;
}

int RemoveDevice(const TestDeviceClass& deviceClass, const char* instanceId) {
  HDEVINFO set = SetupDiGetClassDevsA(&deviceClass.guid, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return Fail("SetupDiGetClassDevsA");
  int result = 2;
  for (DWORD index = 0; result == 2; ++index) {
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInfo(set, index, &data)) {
      std::fprintf(stderr, "no present device %s in class %s\n", instanceId, deviceClass.name);
      break;
    }
    char id[4096];
    if (!SetupDiGetDeviceInstanceIdA(set, &data, id, sizeof id, nullptr) || lstrcmpiA(id, instanceId) != 0) {
      continue;
    }
    const BOOL removed = SetupDiRemoveDevice(set, &data);
    result = removed == 1 ? 0 : Fail("SetupDiRemoveDevice");
  }
  SetupDiDestroyDeviceInfoList(set);
  return result;
}

int ListDevices(const TestDeviceClass& deviceClass) {
  const bool listed = ListPresentDevices(deviceClass, [](const char* line) { std::printf("%s\n", line); });
  return listed ? 0 : Fail("SetupDiGetClassDevsA");
}

int Usage() {
  std::fprintf(stderr,
               "usage: qnetprep_devices create <net|other> <instance id> [description]\n"
               "       qnetprep_devices list <net|other>\n"
               "       qnetprep_devices remove <net|other> <instance id>\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const TestDeviceClass* deviceClass = FindTestDeviceClass(argv[2]);
  if (deviceClass == nullptr) return Usage();
  const char* command = argv[1];
  if (std::strcmp(command, "create") == 0 && (argc == 4 || argc == 5)) {
    return CreateDevice(*deviceClass, argv[3], argc == 5 ? argv[4] : nullptr);
  }
  if (std::strcmp(command, "list") == 0 && argc == 3) return ListDevices(*deviceClass);
  if (std::strcmp(command, "remove") == 0 && argc == 4) return RemoveDevice(*deviceClass, argv[3]);
  return Usage();
}
