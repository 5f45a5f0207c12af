// Lists the present devices of a setup class as the state dump prints them, one line
// each: `device <class> <instance id> desc="<description>"`, or `desc=none` for a
// device without a description (which the installer never removes).
#pragma once

#include <cstdio>

#include "platform/platform.h"
#include "tests/windows/device_classes.h"

// Calls `emit(line)` for each present device of the class, in enumeration order, and
// returns false when the class's device set cannot be opened.
template <typename Emit>
bool ListPresentDevices(const TestDeviceClass& deviceClass, Emit emit) {
  HDEVINFO set = SetupDiGetClassDevsA(&deviceClass.guid, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return false;
  for (DWORD index = 0;; ++index) {
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInfo(set, index, &data)) break;
    char id[4096];
    if (!SetupDiGetDeviceInstanceIdA(set, &data, id, sizeof id, nullptr)) continue;
    BYTE description[4096];
    DWORD type = 0;
    char line[8300];
    if (SetupDiGetDeviceRegistryPropertyA(set, &data, SPDRP_DEVICEDESC, &type, description,
                                          sizeof description - 1, nullptr)) {
      description[sizeof description - 1] = 0;
      std::snprintf(line, sizeof line, "device %s %s desc=\"%s\"", deviceClass.name, id,
                    reinterpret_cast<const char*>(description));
    } else {
      std::snprintf(line, sizeof line, "device %s %s desc=none", deviceClass.name, id);
    }
    emit(line);
  }
  SetupDiDestroyDeviceInfoList(set);
  return true;
}
