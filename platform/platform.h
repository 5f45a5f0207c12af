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
#include <windows.h>
#include <setupapi.h>
#include <shlwapi.h>
#include <winsvc.h>
#else
#include "platform/sim/win32_api.h"
#endif

#include <cstdio>
