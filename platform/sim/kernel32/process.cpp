// KERNEL32 about the running process: its last error, its modules and DLL search, its
// command line, WOW64 and code page, its environment and the Windows folders.
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/sim/calls.h"
#include "platform/sim/machine.h"
#include "platform/sim/machine_setup.h"
#include "platform/sim/runtime_start.h"

namespace sim {
namespace {

constexpr const char* kWindowsDirectory = "C:\\Windows";
constexpr const char* kSystemDirectory = "C:\\Windows\\System32";

HMODULE Kernel32Module() {
  return reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x7FF800000000));
}

// Windows' rule for every call that fills a caller's buffer with text: the text and
// its length when it fits with its NUL, else the size needed and the buffer untouched.
DWORD CopyOut(const std::string& text, char* buffer, DWORD size) {
  // The program gives MAX_PATH or more: Windows' folders and the current folder fit it, and only a
  // tester sets a longer ProgramFiles variable.
  if (size > text.size()) {  // GCOVR_EXCL_BR_LINE
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
  }
  return static_cast<DWORD>(text.size() + 1);
}

// Windows looks environment names up without regard to case; the first match wins.
const char* FindEnvironmentValue(const char* name) {
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    if (NamesEqual(std::string_view(*entry, equals - *entry), name)) return equals + 1;
  }
  return nullptr;
}

}  // namespace
}  // namespace sim

using namespace sim;

DWORD WINAPI GetLastError() {
  return TheMachine().lastError;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
  SIM_CALL(GetModuleHandleA, moduleName);
  // The program asks for its own module and for kernel32, no other.
  return moduleName == nullptr ? ProgramModule() : Kernel32Module();
}

// The simulated kernel32 exports the two functions that the program looks up in it at run
// time, and the program asks for no other: a faulted lookup plays a Windows that does not
// have them yet.
FARPROC WINAPI GetProcAddress(HMODULE /*module*/, LPCSTR procName) {
  SIM_CALL(GetProcAddress, procName);
  // Through void (*)(), the type that GCC accepts as any function pointer.
  void (*const found)() = std::string_view(procName) == "SetDefaultDllDirectories"
                              ? reinterpret_cast<void (*)()>(&SetDefaultDllDirectories)
                              : reinterpret_cast<void (*)()>(&IsWow64Process);
  return reinterpret_cast<FARPROC>(found);
}

// The machine loads no DLLs: the search order is only logged.
BOOL WINAPI SetDefaultDllDirectories(DWORD directoryFlags) {
  SIM_CALL(SetDefaultDllDirectories, directoryFlags);
  return TRUE;
}

BOOL WINAPI SetDllDirectoryA(LPCSTR pathName) {
  SIM_CALL(SetDllDirectoryA, pathName);
  return TRUE;
}

// Windows' rule since Vista: a path that does not fit is cut short with its NUL, and
// the call returns the buffer's size.
DWORD WINAPI GetModuleFileNameA(HMODULE /*module*/, LPSTR fileName, DWORD size) {
  SIM_CALL(GetModuleFileNameA);
  const std::string image = TheSetup().programImage.substr(0, size - 1);
  std::memcpy(fileName, image.c_str(), image.size() + 1);
  // The program gives MAX_PATH, and Windows starts no program of a longer path.
  // GCOVR_EXCL_BR_START
  if (image.size() == TheSetup().programImage.size()) return static_cast<DWORD>(image.size());
  TheMachine().lastError = ERROR_INSUFFICIENT_BUFFER;
  // GCOVR_EXCL_BR_STOP
  return size;
}

// The pseudo handle of the process itself: not a call that can fail, so not counted.
HANDLE WINAPI GetCurrentProcess() {
  return reinterpret_cast<HANDLE>(~static_cast<ULONG_PTR>(0));
}

BOOL WINAPI IsWow64Process(HANDLE /*process*/, PBOOL wow64Process) {
  SIM_CALL(IsWow64Process);
  *wow64Process = TheSetup().underWow64 ? TRUE : FALSE;
  return TRUE;
}

// Windows hands every caller the same line, writable, for the life of the process.
LPSTR WINAPI GetCommandLineA() {
  return CommandLine().data();
}

// A Western Windows has a single-byte code page; in code page 932 a double-byte character
// begins with a byte of 0x81 to 0x9F or 0xE0 to 0xFC.
BOOL WINAPI IsDBCSLeadByte(BYTE testChar) {
  if (!TheSetup().japaneseCodePage) return FALSE;
  return (testChar >= 0x81 && testChar <= 0x9F) || (testChar >= 0xE0 && testChar <= 0xFC);
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  SIM_CALL(GetWindowsDirectoryA);
  return CopyOut(kWindowsDirectory, buffer, size);
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  SIM_CALL(GetSystemDirectoryA);
  return CopyOut(kSystemDirectory, buffer, size);
}

DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  SIM_CALL(GetCurrentDirectoryA);
  return CopyOut(TheMachine().currentDirectory, buffer, size);
}

DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
  SIM_CALL(GetEnvironmentVariableA, name);
  const char* value = FindEnvironmentValue(name);
  if (value == nullptr) return FailWith<DWORD>(ERROR_ENVVAR_NOT_FOUND);
  return CopyOut(value, buffer, size);
}
