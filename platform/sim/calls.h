// Every simulated Windows call that can fail has a row in kCalls and opens its body with
// SIM_CALL: the call is counted and logged, a planned stop ends the process there, and a
// planned fault makes the call return at once, the way its row says it fails.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/sim/sim_control.h"

namespace sim {

// What a call returns when it fails: 0 (FALSE, a null handle) or all bits set
// (INVALID_HANDLE_VALUE, INVALID_FILE_ATTRIBUTES), with the error as its last error; or, as
// the registry does, the error itself, leaving the last error alone.
enum Failed { kZero, kAllOnes, kError };

struct SimulatedCall {
  const char* name;
  // What the call log writes and FailCallOn matches, made of the parts that SIM_CALL is
  // given in order: %s text ("(null)" for none), %u a number, %x a number in hexadecimal.
  const char* detail;
  Failed failed;
  DWORD usualError;  // what a fault that names no error reports
};

// One row per call; a call without one does not compile. GetLastError, GetCurrentProcess,
// GetCommandLineA and IsDBCSLeadByte cannot fail and are not counted; nor can EqualSid, a
// comparison in the caller's memory, nor LocalFree of memory that a call handed out.
// clang-format off
inline constexpr SimulatedCall kCalls[] = {
    // name                                   detail           failed    usual error
    // KERNEL32
    {"GetModuleHandleA",                      "%s",            kZero,    ERROR_MOD_NOT_FOUND},
    {"GetProcAddress",                        "%s",            kZero,    ERROR_PROC_NOT_FOUND},
    {"SetDefaultDllDirectories",              "%u",            kZero,    ERROR_ACCESS_DENIED},
    {"SetDllDirectoryA",                      "%s",            kZero,    ERROR_ACCESS_DENIED},
    {"GetModuleFileNameA",                    "",              kZero,    ERROR_ACCESS_DENIED},
    {"IsWow64Process",                        "",              kZero,    ERROR_ACCESS_DENIED},
    {"GetWindowsDirectoryA",                  "",              kZero,    ERROR_ACCESS_DENIED},
    {"GetSystemDirectoryA",                   "",              kZero,    ERROR_ACCESS_DENIED},
    {"GetCurrentDirectoryA",                  "",              kZero,    ERROR_ACCESS_DENIED},
    {"GetEnvironmentVariableA",               "%s",            kZero,    ERROR_ENVVAR_NOT_FOUND},
    {"CreateDirectoryA",                      "%s",            kZero,    ERROR_ACCESS_DENIED},
    {"GetFileAttributesA",                    "%s",            kAllOnes, ERROR_ACCESS_DENIED},
    {"SetFileAttributesA",                    "%s",            kZero,    ERROR_ACCESS_DENIED},
    {"CopyFileA",                             "%s -> %s",      kZero,    ERROR_ACCESS_DENIED},
    {"DeleteFileA",                           "%s",            kZero,    ERROR_ACCESS_DENIED},
    // USER32
    {"LoadStringA",                           "%u",            kZero,    ERROR_RESOURCE_NAME_NOT_FOUND},
    // ADVAPI32: the registry, by key path, "path:value name" or "path#index"
    {"RegOpenKeyExA",                         "%s%s",          kError,   ERROR_ACCESS_DENIED},
    {"RegCreateKeyExA",                       "%s",            kError,   ERROR_ACCESS_DENIED},
    {"RegQueryValueExA",                      "%s:%s",         kError,   ERROR_ACCESS_DENIED},
    {"RegSetValueExA",                        "%s:%s",         kError,   ERROR_ACCESS_DENIED},
    {"RegEnumKeyExA",                         "%s#%u",         kError,   ERROR_ACCESS_DENIED},
    {"RegEnumValueA",                         "%s#%u",         kError,   ERROR_ACCESS_DENIED},
    {"RegDeleteKeyA",                         "%s",            kError,   ERROR_ACCESS_DENIED},
    {"RegCloseKey",                           "%s",            kError,   ERROR_ACCESS_DENIED},
    // SHLWAPI
    {"SHDeleteKeyA",                          "%s",            kError,   ERROR_ACCESS_DENIED},
    // ADVAPI32: the service control manager, by service name
    {"OpenSCManagerA",                        "",              kZero,    ERROR_ACCESS_DENIED},
    {"OpenServiceA",                          "%s",            kZero,    ERROR_ACCESS_DENIED},
    {"DeleteService",                         "%s",            kZero,    ERROR_ACCESS_DENIED},
    {"CloseServiceHandle",                    "%s",            kZero,    ERROR_INVALID_HANDLE},
    // SETUPAPI: devices by class or instance id, the INF store by file
    {"SetupDiGetClassDevsA",                  "%s",            kAllOnes, ERROR_INVALID_CLASS},
    {"SetupDiEnumDeviceInfo",                 "%s",            kZero,    ERROR_NO_MORE_ITEMS},
    {"SetupDiGetDeviceInstanceIdA",           "%s",            kZero,    ERROR_INVALID_PARAMETER},
    {"SetupDiGetDeviceRegistryPropertyA",     "%s",            kZero,    ERROR_INVALID_DATA},
    {"SetupDiSetClassInstallParamsA",         "%s",            kZero,    ERROR_INVALID_PARAMETER},
    {"SetupDiCallClassInstaller",             "0x%x %s",       kZero,    ERROR_ACCESS_DENIED},
    {"SetupDiDestroyDeviceInfoList",          "%s",            kZero,    ERROR_INVALID_HANDLE},
    {"SetupCopyOEMInfA",                      "%s style=0x%x", kZero,    ERROR_ACCESS_DENIED},
    {"SetupUninstallOEMInfA",                 "%s flags=0x%x", kZero,    ERROR_ACCESS_DENIED},
    {"SetupGetInfInformationA",               "%s",            kZero,    ERROR_ACCESS_DENIED},
    {"SetupQueryInfOriginalFileInformationA", "%s",            kZero,    ERROR_ACCESS_DENIED},
    // ADVAPI32: the running process's token, by the access or information asked; descriptors by path
    {"OpenProcessToken",                      "%u",            kZero,    ERROR_ACCESS_DENIED},
    {"GetTokenInformation",                   "%u",            kZero,    ERROR_ACCESS_DENIED},
    {"CloseHandle",                           "",              kZero,    ERROR_INVALID_HANDLE},
    {"GetNamedSecurityInfoA",                 "%s",            kError,   ERROR_ACCESS_DENIED},
    {"SetNamedSecurityInfoA",                 "%s",            kError,   ERROR_ACCESS_DENIED},
    {"ConvertStringSecurityDescriptorToSecurityDescriptorA", "%s", kZero, ERROR_NOT_ENOUGH_MEMORY},
    {"GetSecurityDescriptorOwner",            "",              kZero,    ERROR_INVALID_SECURITY_DESCR},
    {"GetSecurityDescriptorDacl",             "",              kZero,    ERROR_INVALID_SECURITY_DESCR},
    {"GetAce",                                "%u",            kZero,    ERROR_INVALID_PARAMETER},
};
// clang-format on

constexpr size_t RowOf(std::string_view name, size_t row = 0) {
  return row == std::size(kCalls) || kCalls[row].name == name ? row : RowOf(name, row + 1);
}

// One part of a detail: text, or a number. Parts convert from what the calls name.
struct Part {
  // NOLINTBEGIN(google-explicit-constructor)
  Part(const char* given);
  Part(std::string given) : text(std::move(given)) {}
  Part(DWORD given) : number(given) {}
  // NOLINTEND(google-explicit-constructor)
  std::string text;
  DWORD number = 0;
};
std::string FormDetail(const char* format, std::initializer_list<Part> parts);

// Counts and logs the call, acts on a planned stop, and returns the fault planned for it, or
// nullptr to act normally.
const Fault* EnterCall(const char* name, const std::string& detail);
// What a faulted call returns, as a number, its last error set as its row says.
int64_t FaultedResult(const SimulatedCall& call, const Fault& fault) noexcept;

template <size_t row, typename Result, typename... Args, typename... Parts>
std::optional<Result> Enter(Result (*)(Args...), const Parts&... parts) {
  static_assert(row < std::size(kCalls), "every simulated call has a row in kCalls");
  // The compiler's own branches: each call's instantiation destroys its array of parts, also
  // when a part cannot be made.
  const std::string detail = FormDetail(kCalls[row].detail, {Part(parts)...});  // GCOVR_EXCL_BR_LINE
  const Fault* fault = EnterCall(kCalls[row].name, detail);
  if (fault == nullptr) return std::nullopt;
  const int64_t value = FaultedResult(kCalls[row], *fault);
  if constexpr (std::is_pointer_v<Result>) {
    return reinterpret_cast<Result>(static_cast<intptr_t>(value));
  } else {
    return static_cast<Result>(value);
  }
}

}  // namespace sim

// Opens the body of the simulated call named first, given the parts of its detail:
// SIM_CALL(CopyFileA, existing, destination);
#define SIM_CALL(...)                                                                           \
  if (const auto faulted = sim::Enter<sim::RowOf(SIM_CALL_NAME_(__VA_ARGS__, ~))>(__VA_ARGS__)) \
  return *faulted
#define SIM_CALL_NAME_(call, ...) #call
