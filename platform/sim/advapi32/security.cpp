// ADVAPI32's security calls on the simulated machine: the running process's token, and the
// descriptors of files and folders (platform/sim/folder_security.h), handed out in memory that
// the caller frees with LocalFree (kernel32/memory.cpp).
#include "platform/sim/advapi32/security.h"

#include <sys/stat.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/calls.h"
#include "platform/sim/folder_security.h"
#include "platform/sim/handle_table.h"
#include "platform/sim/machine.h"
#include "platform/sim/paths.h"

namespace sim {
namespace {

struct TokenHandle {};

HandleTable<HANDLE, TokenHandle>& TokenHandles() {
  static HandleTable<HANDLE, TokenHandle> table(0x30000);
  return table;
}

// Memory handed to the caller, which must give it back with LocalFree; a new machine
// forgets what the one before handed out, as HandleTable does.
std::map<void*, std::vector<BYTE>>& Blocks() {
  static std::map<void*, std::vector<BYTE>> blocks;
  static uint64_t generation = MachineGeneration();
  if (generation != MachineGeneration()) blocks.clear();
  generation = MachineGeneration();
  return blocks;
}

// A vector's memory stays where it is when the vector is moved.
void* HandOut(std::vector<BYTE> bytes) {
  void* memory = bytes.data();
  Blocks().emplace(memory, std::move(bytes));
  return memory;
}

// Where the call names a file or folder that exists; else the error Windows gives.
DWORD LocateObject(LPCSTR path, MappedPath* mapped) {
  DWORD error = ERROR_INVALID_PARAMETER;
  if (path == nullptr || !MapWindowsPath(path, mapped, &error)) return error;
  struct stat info;
  return ::stat(mapped->linuxPath.c_str(), &info) == 0 ? ERROR_SUCCESS : MissingPathError(*mapped);
}

constexpr SECURITY_INFORMATION kOwnerAndEntries = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

}  // namespace

int OpenTokenHandleCount() {
  return TokenHandles().Count();
}

int LocalAllocationCount() {
  return static_cast<int>(Blocks().size());
}

bool CloseToken(HANDLE token) {
  return TokenHandles().Close(token);
}

bool FreeHandedOut(void* memory) {
  return Blocks().erase(memory) == 1;
}

}  // namespace sim

using namespace sim;

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  SIM_CALL(OpenProcessToken, access);
  if (process != GetCurrentProcess() || token == nullptr || access != TOKEN_QUERY) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  *token = TokenHandles().Add(TokenHandle{});
  return TRUE;
}

// Windows' rule: the size needed in `returnLength`, and ERROR_INSUFFICIENT_BUFFER when it does
// not fit; the SID lies in the caller's buffer, after the structure that points to it.
BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, LPVOID information,
                                DWORD length, PDWORD returnLength) {
  SIM_CALL(GetTokenInformation, static_cast<DWORD>(informationClass));
  if (TokenHandles().Find(token) == nullptr) {
    return FailWith(ERROR_INVALID_HANDLE);
  }
  if (informationClass != TokenUser || returnLength == nullptr) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  const std::vector<BYTE> sid = EncodeSid(kRunningUser);
  *returnLength = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
  if (information == nullptr || length < *returnLength) {
    return FailWith(ERROR_INSUFFICIENT_BUFFER);
  }
  auto* user = static_cast<TOKEN_USER*>(information);
  user->User.Sid = user + 1;
  user->User.Attributes = 0;
  std::memcpy(user + 1, sid.data(), sid.size());
  return TRUE;
}

// Through links, as Windows opens the object by its name. Only what the program asks for is
// simulated: the owner and the DACL of a file or folder, with the descriptor that holds them.
DWORD WINAPI GetNamedSecurityInfoA(LPCSTR objectName, SE_OBJECT_TYPE objectType,
                                   SECURITY_INFORMATION information, PSID* owner, PSID* group, PACL* dacl,
                                   PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
  SIM_CALL(GetNamedSecurityInfoA, objectName);
  if (objectType != SE_FILE_OBJECT || information != kOwnerAndEntries || owner == nullptr ||
      group != nullptr || dacl == nullptr || sacl != nullptr || descriptor == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  MappedPath mapped;
  if (const DWORD error = LocateObject(objectName, &mapped)) return error;
  *descriptor = HandOut(EncodeDescriptor(SecurityOf(mapped.linuxPath)));
  DescriptorParts(*descriptor, owner, dacl);
  return ERROR_SUCCESS;
}

// Windows' rule for the caller's rights (folder_security.h): WRITE_OWNER for the owner, which
// must be an account that the process may make owner, and WRITE_DAC or owner rights for the
// entries. The entries replace the object's own; those of its files and subfolders stay.
DWORD WINAPI SetNamedSecurityInfoA(LPSTR objectName, SE_OBJECT_TYPE objectType,
                                   SECURITY_INFORMATION information, PSID owner, PSID group, PACL dacl,
                                   PACL sacl) {
  SIM_CALL(SetNamedSecurityInfoA, objectName);
  const SECURITY_INFORMATION known = kOwnerAndEntries | PROTECTED_DACL_SECURITY_INFORMATION;
  const bool setsOwner = (information & OWNER_SECURITY_INFORMATION) != 0;
  const bool setsEntries = (information & DACL_SECURITY_INFORMATION) != 0;
  if (objectType != SE_FILE_OBJECT || (information & ~known) != 0 || group != nullptr || sacl != nullptr ||
      setsOwner != (owner != nullptr) || setsEntries != (dacl != nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  Security wanted;
  if ((setsOwner && !DecodeSid(owner, &wanted.owner)) || (setsEntries && !DecodeAcl(dacl, &wanted.entries)))
    return ERROR_INVALID_PARAMETER;
  MappedPath mapped;
  if (const DWORD error = LocateObject(objectName, &mapped)) return error;
  Security security = SecurityOf(mapped.linuxPath);
  if ((setsOwner && (GrantedRights(security) & WRITE_OWNER) == 0) ||
      (setsEntries && (GrantedRights(security) & WRITE_DAC) == 0))
    return ERROR_ACCESS_DENIED;
  if (setsOwner && !MayOwn(wanted.owner)) return ERROR_INVALID_OWNER;
  if (setsOwner) security.owner = wanted.owner;
  if (setsEntries) {
    security.hasDacl = true;
    security.entries = wanted.entries;
    security.isProtected = (information & PROTECTED_DACL_SECURITY_INFORMATION) != 0;
  }
  StoreSecurity(mapped.linuxPath, security);
  return ERROR_SUCCESS;
}

BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD revision,
                                                                 PSECURITY_DESCRIPTOR* descriptor,
                                                                 PULONG size) {
  SIM_CALL(ConvertStringSecurityDescriptorToSecurityDescriptorA, text);
  Security security;
  if (text == nullptr || descriptor == nullptr || revision != SDDL_REVISION_1 ||
      !ParseSddl(text, &security)) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  std::vector<BYTE> bytes = EncodeDescriptor(security);
  if (size != nullptr) *size = static_cast<ULONG>(bytes.size());
  *descriptor = HandOut(std::move(bytes));
  return TRUE;
}

BOOL WINAPI GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID* owner, LPBOOL defaulted) {
  SIM_CALL(GetSecurityDescriptorOwner);
  PACL dacl = nullptr;
  if (owner == nullptr || defaulted == nullptr || !DescriptorParts(descriptor, owner, &dacl)) {
    return FailWith(ERROR_INVALID_SECURITY_DESCR);
  }
  *defaulted = FALSE;
  return TRUE;
}

BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, LPBOOL present, PACL* dacl,
                                      LPBOOL defaulted) {
  SIM_CALL(GetSecurityDescriptorDacl);
  PSID owner = nullptr;
  if (present == nullptr || dacl == nullptr || defaulted == nullptr ||
      !DescriptorParts(descriptor, &owner, dacl)) {
    return FailWith(ERROR_INVALID_SECURITY_DESCR);
  }
  *present = *dacl != nullptr ? TRUE : FALSE;
  *defaulted = FALSE;
  return TRUE;
}

BOOL WINAPI GetAce(PACL acl, DWORD index, LPVOID* ace) {
  SIM_CALL(GetAce, index);
  if (acl == nullptr || ace == nullptr || index >= acl->AceCount) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  BYTE* at = reinterpret_cast<BYTE*>(acl) + sizeof(ACL);
  for (DWORD i = 0; i < index; ++i) at += reinterpret_cast<ACE_HEADER*>(at)->AceSize;
  *ace = at;
  return TRUE;
}

// A comparison in the caller's memory: not counted (calls.h).
BOOL WINAPI EqualSid(PSID first, PSID second) {
  std::string one, other;
  if (!DecodeSid(first, &one) || !DecodeSid(second, &other)) {
    return FailWith(ERROR_INVALID_SID);
  }
  TheMachine().lastError = ERROR_SUCCESS;
  return one == other ? TRUE : FALSE;
}
