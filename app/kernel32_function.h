// Functions of kernel32 that older Windows versions lack are looked up at run time, so
// that the program still starts there and does without them.
#pragma once

#include <cstring>

#include "platform/platform.h"

// The named export of kernel32 as a `Function` pointer; nullptr when kernel32 or the
// export cannot be found.
template <class Function>
Function FindKernel32Function(const char* name) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return nullptr;
  const FARPROC found = GetProcAddress(kernel, name);
  // FARPROC and the real signature differ; copying the pointer keeps the compiler from
  // warning about a cast between function types.
  Function function = nullptr;
  static_assert(sizeof function == sizeof found, "function pointers of one size");
  std::memcpy(&function, &found, sizeof function);
  return function;
}
