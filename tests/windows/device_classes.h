// The two setup classes that the installer clears, by the short names the test
// programs take on their command lines.
#pragma once

#include <cstring>

#include "platform/platform.h"

struct TestDeviceClass {
  const char* name;
  GUID guid;
};

// Network adapters, then devices for which no driver is installed ("other devices").
constexpr TestDeviceClass kTestDeviceClasses[] = {
    {"net", {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}}},
    {"other", {0x4D36E97E, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}}},
};

inline const TestDeviceClass* FindTestDeviceClass(const char* name) {
  for (const TestDeviceClass& deviceClass : kTestDeviceClasses) {
    if (std::strcmp(deviceClass.name, name) == 0) return &deviceClass;
  }
  return nullptr;
}
