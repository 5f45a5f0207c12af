// The stack protector's guard value and failure handlers, in place of libssp's.
//
// libssp seeds its guard in a constructor through CryptAcquireContextA, which loads
// bcrypt.dll, crypt32.dll and the provider DLL before WinMain runs, and so before the
// DLL search can be taken away from the package folder (app/dll_search.h). This seed
// comes from kernel32 alone, as the Microsoft runtime seeds its cookie: the time, the
// performance counter, the process and thread identifiers and the tick count, which
// differ from run to run. The fortified string functions of libssp call __chk_fail,
// defined here too, so libssp's own guard and constructor are never linked in.
#include <windows.h>

#include <cstdint>

extern "C" {

// Overwritten before WinMain; never zero, so that a string copy cannot reproduce it.
uintptr_t __stack_chk_guard =
    static_cast<uintptr_t>(0x2B992DDFA232ULL);  // NOLINT(bugprone-reserved-identifier)

[[noreturn]] void __stack_chk_fail() {  // NOLINT(bugprone-reserved-identifier)
  // The stack is not to be trusted any more: end at once, without unwinding or
  // running exit handlers, with the code that Windows uses for this failure.
  TerminateProcess(GetCurrentProcess(), 0xC0000409u);
  __builtin_trap();
}

[[noreturn]] void __chk_fail() {  // NOLINT(bugprone-reserved-identifier)
  __stack_chk_fail();
}

}  // extern "C"

namespace {

// Runs from the runtime start-up's constructor list, before any protected frame is live;
// it must not be protected itself, as it changes the guard.
__attribute__((constructor, no_stack_protector)) void SeedStackGuard() {
  FILETIME time{};
  GetSystemTimeAsFileTime(&time);
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  uint64_t seed = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  seed ^= static_cast<uint64_t>(counter.QuadPart) << 1;
  seed ^= static_cast<uint64_t>(GetCurrentProcessId()) << 16;
  seed ^= static_cast<uint64_t>(GetCurrentThreadId()) << 40;
  seed ^= GetTickCount();
  seed ^= reinterpret_cast<uintptr_t>(&time);  // where the stack lies differs with ASLR
  // A 32-bit guard keeps the high half's randomness too.
  if (sizeof(uintptr_t) == 4) seed ^= seed >> 32;
  const auto guard = static_cast<uintptr_t>(seed);
  if (guard != 0) __stack_chk_guard = guard;
}

}  // namespace
