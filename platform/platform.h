// The one boundary between the installer's logic and the machine it changes.
//
// The logic calls the Windows ANSI API by its Windows names. Built for Windows, this
// header brings in the real SDK headers and those are the real calls; built anywhere
// else, it declares the same subset, implemented in platform/sim over a simulated
// Windows machine. Nothing outside platform/ may test which side it is built for.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// windows.h comes first, out of sorted order: the SDK headers after it use its types.
// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <setupapi.h>
#include <shlwapi.h>
#include <winsvc.h>
// clang-format on

// Whether HKLM\SOFTWARE has a second, 32-bit view that this process reaches only with
// KEY_WOW64_32KEY. The x64 build runs on 64-bit Windows only, where it has; the x86 build
// has one view: the only one on 32-bit Windows, and under WOW64 the 32-bit one itself.
inline bool RegistryHasSeparate32BitView() {
  return sizeof(void*) == 8;
}
#else
#include "platform/sim/win32_api.h"
#endif

#include <cstdio>
