// The subset of the Windows ANSI API that the installer uses, declared for builds
// that run over the simulated machine. Types, constants and signatures follow the
// Windows SDK so that the same logic compiles unchanged on both sides.
#pragma once

#include <cstddef>
#include <cstdint>

using BOOL = int;
using PBOOL = BOOL*;
using BYTE = unsigned char;
using CHAR = char;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using UINT = unsigned int;
using ULONG_PTR = uintptr_t;
using LSTATUS = LONG;
using REGSAM = DWORD;
using LPSTR = char*;
using LPCSTR = const char*;
using PSTR = char*;
using PCSTR = const char*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using PDWORD = DWORD*;
using LPVOID = void*;
using HANDLE = void*;
using INT_PTR = intptr_t;

// The SDK's handle types, with the SDK's own names.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
struct HWND__;
using HWND = HWND__*;
struct SC_HANDLE__;
using SC_HANDLE = SC_HANDLE__*;
using HDEVINFO = void*;
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};

struct FILETIME;
using PFILETIME = FILETIME*;

// Security: the documented binary layouts, read by the program and built by the machine.
using PSID = void*;
using PSECURITY_DESCRIPTOR = void*;
using HLOCAL = void*;
using PHANDLE = HANDLE*;
using LPBOOL = BOOL*;
using PULONG = ULONG*;
using ACCESS_MASK = DWORD;
using SECURITY_INFORMATION = DWORD;
struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
struct ACL {
  BYTE AclRevision;
  BYTE Sbz1;
  WORD AclSize;
  WORD AceCount;
  WORD Sbz2;
};
using PACL = ACL*;
struct ACE_HEADER {
  BYTE AceType;
  BYTE AceFlags;
  WORD AceSize;
};
struct ACCESS_ALLOWED_ACE {
  ACE_HEADER Header;
  ACCESS_MASK Mask;
  DWORD SidStart;
};
struct SID_AND_ATTRIBUTES {
  PSID Sid;
  DWORD Attributes;
};
struct TOKEN_USER {
  SID_AND_ATTRIBUTES User;
};
enum SE_OBJECT_TYPE { SE_UNKNOWN_OBJECT_TYPE = 0, SE_FILE_OBJECT = 1 };
enum TOKEN_INFORMATION_CLASS { TokenUser = 1 };

struct SP_DEVINFO_DATA {
  DWORD cbSize;
  GUID ClassGuid;
  DWORD DevInst;
  ULONG_PTR Reserved;
};
using PSP_DEVINFO_DATA = SP_DEVINFO_DATA*;
using DI_FUNCTION = UINT;

// The header of every class-install parameter block, and the one for a removal.
struct SP_CLASSINSTALL_HEADER {
  DWORD cbSize;
  DI_FUNCTION InstallFunction;
};
using PSP_CLASSINSTALL_HEADER = SP_CLASSINSTALL_HEADER*;
struct SP_REMOVEDEVICE_PARAMS {
  SP_CLASSINSTALL_HEADER ClassInstallHeader;
  DWORD Scope;
  DWORD HwProfile;
};

// What SetupGetInfInformationA hands back: opaque data for the calls that read it.
struct SP_INF_INFORMATION {
  DWORD InfStyle;
  DWORD InfCount;
  BYTE VersionData[1];
};
using PSP_INF_INFORMATION = SP_INF_INFORMATION*;
struct SP_ALTPLATFORM_INFO;
using PSP_ALTPLATFORM_INFO = SP_ALTPLATFORM_INFO*;
struct SP_ORIGINAL_FILE_INFO_A {
  DWORD cbSize;
  CHAR OriginalInfName[260];  // MAX_PATH
  CHAR OriginalCatalogName[260];
};
using PSP_ORIGINAL_FILE_INFO_A = SP_ORIGINAL_FILE_INFO_A*;

#define WINAPI
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002u)))
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(~static_cast<ULONG_PTR>(0)))

// Error codes.
constexpr LONG ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_INVALID_DATA = 13;
constexpr DWORD ERROR_NETNAME_DELETED = 64;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_ENVVAR_NOT_FOUND = 203;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
constexpr DWORD ERROR_FILE_INVALID = 1006;
constexpr DWORD ERROR_SERVICE_DOES_NOT_EXIST = 1060;
constexpr DWORD ERROR_SERVICE_MARKED_FOR_DELETE = 1072;
constexpr DWORD ERROR_KEY_DELETED = 1018;
constexpr DWORD ERROR_INVALID_OWNER = 1307;
constexpr DWORD ERROR_INVALID_SECURITY_DESCR = 1338;
constexpr DWORD ERROR_EXPECTED_SECTION_NAME = 0xE0000000u;
constexpr DWORD ERROR_BAD_SECTION_NAME_LINE = 0xE0000001u;
constexpr DWORD ERROR_WRONG_INF_STYLE = 0xE0000100u;
constexpr DWORD ERROR_INVALID_CLASS = 0xE0000206u;
constexpr DWORD ERROR_NO_SUCH_DEVINST = 0xE000020Bu;

// Registry.
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

// Files.
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x2;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x4;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

// Access rights, access entries and security descriptors.
constexpr ACCESS_MASK FILE_WRITE_DATA = 0x2;
constexpr ACCESS_MASK FILE_APPEND_DATA = 0x4;
constexpr ACCESS_MASK FILE_DELETE_CHILD = 0x40;
constexpr ACCESS_MASK DELETE = 0x10000;
constexpr ACCESS_MASK READ_CONTROL = 0x20000;
constexpr ACCESS_MASK WRITE_DAC = 0x40000;
constexpr ACCESS_MASK WRITE_OWNER = 0x80000;
constexpr ACCESS_MASK FILE_ALL_ACCESS = 0x1F01FF;
constexpr ACCESS_MASK GENERIC_ALL = 0x10000000;
constexpr ACCESS_MASK GENERIC_WRITE = 0x40000000;
constexpr BYTE ACCESS_ALLOWED_ACE_TYPE = 0;
constexpr BYTE ACCESS_DENIED_ACE_TYPE = 1;
constexpr BYTE ACCESS_ALLOWED_CALLBACK_ACE_TYPE = 9;
constexpr BYTE OBJECT_INHERIT_ACE = 0x1;
constexpr BYTE CONTAINER_INHERIT_ACE = 0x2;
constexpr BYTE INHERIT_ONLY_ACE = 0x8;
constexpr BYTE INHERITED_ACE = 0x10;
constexpr SECURITY_INFORMATION OWNER_SECURITY_INFORMATION = 0x1;
constexpr SECURITY_INFORMATION DACL_SECURITY_INFORMATION = 0x4;
constexpr SECURITY_INFORMATION PROTECTED_DACL_SECURITY_INFORMATION = 0x80000000u;
constexpr DWORD SDDL_REVISION_1 = 1;
constexpr DWORD TOKEN_QUERY = 0x8;

// Loader.
constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800;

// Device installer.
constexpr DWORD DIGCF_PRESENT = 0x2;
constexpr DWORD SPDRP_DEVICEDESC = 0x0;
constexpr DWORD SPOST_PATH = 1;
constexpr DWORD SP_COPY_NOOVERWRITE = 0x8;
constexpr DWORD SP_COPY_OEMINF_CATALOG_ONLY = 0x40000;
constexpr DWORD SUOI_FORCEDELETE = 0x1;
constexpr DI_FUNCTION DIF_REMOVE = 0x5;
constexpr DWORD DI_REMOVEDEVICE_GLOBAL = 0x1;
constexpr DWORD INFINFO_INF_NAME_IS_ABSOLUTE = 2;
constexpr DWORD INF_STYLE_OLDNT = 0x1;
constexpr DWORD INF_STYLE_WIN4 = 0x2;

// Service control manager.
constexpr DWORD SC_MANAGER_ALL_ACCESS = 0xF003F;
constexpr DWORD SERVICE_ALL_ACCESS = 0xF01FF;

// KERNEL32
DWORD WINAPI GetLastError();
HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);
using FARPROC = INT_PTR(WINAPI*)();
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName);
BOOL WINAPI SetDefaultDllDirectories(DWORD directoryFlags);
BOOL WINAPI SetDllDirectoryA(LPCSTR pathName);
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
HANDLE WINAPI GetCurrentProcess();
BOOL WINAPI IsWow64Process(HANDLE process, PBOOL wow64Process);
LPSTR WINAPI GetCommandLineA();
BOOL WINAPI IsDBCSLeadByte(BYTE testChar);
UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size);
DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer);
UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size);
BOOL WINAPI CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security);
DWORD WINAPI GetFileAttributesA(LPCSTR path);
BOOL WINAPI SetFileAttributesA(LPCSTR path, DWORD attributes);
BOOL WINAPI CopyFileA(LPCSTR existing, LPCSTR destination, BOOL failIfExists);
BOOL WINAPI DeleteFileA(LPCSTR path);
BOOL WINAPI CloseHandle(HANDLE object);
HLOCAL WINAPI LocalFree(HLOCAL memory);

// USER32
int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax);

// ADVAPI32: registry
LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM sam, PHKEY result);
LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                               REGSAM sam, LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition);
LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD dataSize);
LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                              DWORD dataSize);
LSTATUS WINAPI RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                             LPSTR keyClass, LPDWORD classSize, PFILETIME lastWriteTime);
LSTATUS WINAPI RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize, LPDWORD reserved,
                             LPDWORD type, LPBYTE data, LPDWORD dataSize);
LSTATUS WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey);
LSTATUS WINAPI RegCloseKey(HKEY key);

// SHLWAPI
LSTATUS WINAPI SHDeleteKeyA(HKEY key, LPCSTR subKey);

// ADVAPI32: security
BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, LPVOID information,
                                DWORD length, PDWORD returnLength);
DWORD WINAPI GetNamedSecurityInfoA(LPCSTR objectName, SE_OBJECT_TYPE objectType,
                                   SECURITY_INFORMATION information, PSID* owner, PSID* group, PACL* dacl,
                                   PACL* sacl, PSECURITY_DESCRIPTOR* descriptor);
DWORD WINAPI SetNamedSecurityInfoA(LPSTR objectName, SE_OBJECT_TYPE objectType,
                                   SECURITY_INFORMATION information, PSID owner, PSID group, PACL dacl,
                                   PACL sacl);
BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD revision,
                                                                 PSECURITY_DESCRIPTOR* descriptor,
                                                                 PULONG size);
BOOL WINAPI GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID* owner, LPBOOL defaulted);
BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, LPBOOL present, PACL* dacl,
                                      LPBOOL defaulted);
BOOL WINAPI GetAce(PACL acl, DWORD index, LPVOID* ace);
BOOL WINAPI EqualSid(PSID first, PSID second);

// ADVAPI32: service control manager
SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD access);
SC_HANDLE WINAPI OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD access);
BOOL WINAPI DeleteService(SC_HANDLE service);
BOOL WINAPI CloseServiceHandle(SC_HANDLE handle);

// SETUPAPI
HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags);
BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data);
BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO set, PSP_DEVINFO_DATA data, PSTR id, DWORD idSize,
                                        PDWORD requiredSize);
BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property,
                                              PDWORD propertyType, BYTE* buffer, DWORD bufferSize,
                                              PDWORD requiredSize);
BOOL WINAPI SetupDiSetClassInstallParamsA(HDEVINFO set, PSP_DEVINFO_DATA data, PSP_CLASSINSTALL_HEADER params,
                                          DWORD paramsSize);
BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION installFunction, HDEVINFO set, PSP_DEVINFO_DATA data);
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set);
BOOL WINAPI SetupCopyOEMInfA(PCSTR sourceInfFileName, PCSTR oemSourceMediaLocation, DWORD oemSourceMediaType,
                             DWORD copyStyle, PSTR destinationInfFileName, DWORD destinationInfFileNameSize,
                             PDWORD requiredSize, PSTR* destinationInfFileNameComponent);
BOOL WINAPI SetupUninstallOEMInfA(PCSTR infFileName, DWORD flags, LPVOID reserved);
BOOL WINAPI SetupGetInfInformationA(const void* infSpec, DWORD searchControl,
                                    PSP_INF_INFORMATION returnBuffer, DWORD returnBufferSize,
                                    PDWORD requiredSize);
BOOL WINAPI SetupQueryInfOriginalFileInformationA(PSP_INF_INFORMATION infInformation, UINT infIndex,
                                                  PSP_ALTPLATFORM_INFO alternatePlatformInfo,
                                                  PSP_ORIGINAL_FILE_INFO_A originalFileInfo);

// Not a Windows call: what the Windows build knows from its own word size (see platform.h).
bool RegistryHasSeparate32BitView();

// The program's entry, defined by the installer and called by the simulated runtime start-up.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR startupTail, int showCommand);
