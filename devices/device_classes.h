// The two setup classes whose supported devices every run removes.
#pragma once

#include "platform/platform.h"

// Network adapters.
constexpr GUID GUID_DEVCLASS_NET = {
    0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
// Devices for which no driver is installed ("other devices").
constexpr GUID GUID_DEVCLASS_OTHER = {
    0x4D36E97E, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
