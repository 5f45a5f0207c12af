// ADVAPI32's security calls on the simulated machine, and the KERNEL32 calls that release
// what they hand out: the running process's token, the descriptors of files and folders
// (platform/sim/folder_security.h), and the memory that the caller frees with LocalFree.
#include <sys/stat.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/calls.h"
#include "platform/sim/folder_security.h"
#include "platform/sim/handle_table.h"
#include "platform/sim/paths.h"

namespace sim {
namespace {

struct TokenHandle {};

HandleTable<HANDLE, TokenHandle>& TokenHandles() {
  static HandleTable<HANDLE, TokenHandle> table(0x30000);
  return table;
}

// Memory handed to the caller, which must give it back with LocalFree.
class LocalMemory final : public HandleTableBase {
 public:
  void* Add(const std::vector<BYTE>& bytes) {
    std::vector<BYTE>& kept = blocks_[next_++] = bytes;
    owners_[kept.data()] = next_ - 1;
    return kept.data();
  }
  bool Free(void* memory) {
    const auto found = owners_.find(memory);
    if (found == owners_.end()) return false;
    blocks_.erase(found->second);
    owners_.erase(found);
    return true;
  }
  int Count() const { return static_cast<int>(blocks_.size()); }
  void Clear() override {
    blocks_.clear();
    owners_.clear();
  }

 private:
  std::map<uint64_t, std::vector<BYTE>> blocks_;
  std::map<void*, uint64_t> owners_;
  uint64_t next_ = 0;
};

LocalMemory& Allocations() {
  static LocalMemory memory;
  return memory;
}

std::string Detail(LPCSTR path) {
  return path != nullptr ? path : "(null)";
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
  return Allocations().Count();
}

}  // namespace sim

using namespace sim;

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  BOOL faulted = FALSE;
  if (Intercept("OpenProcessToken", std::to_string(access), FALSE, ERROR_ACCESS_DENIED, &faulted))
    return faulted;
  if (process != GetCurrentProcess() || token == nullptr || access != TOKEN_QUERY) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *token = TokenHandles().Add(TokenHandle{});
  return TRUE;
}

// Windows' rule: the size needed in `returnLength`, and ERROR_INSUFFICIENT_BUFFER when it does
// not fit; the SID lies in the caller's buffer, after the structure that points to it.
BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, LPVOID information,
                                DWORD length, PDWORD returnLength) {
  BOOL faulted = FALSE;
  if (Intercept("GetTokenInformation", std::to_string(informationClass), FALSE, ERROR_ACCESS_DENIED,
                &faulted))
    return faulted;
  if (TokenHandles().Find(token) == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (informationClass != TokenUser || returnLength == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::vector<BYTE> sid = EncodeSid(kRunningUser);
  *returnLength = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
  if (information == nullptr || length < *returnLength) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto* user = static_cast<TOKEN_USER*>(information);
  user->User.Sid = user + 1;
  user->User.Attributes = 0;
  std::memcpy(user + 1, sid.data(), sid.size());
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE object) {
  BOOL faulted = FALSE;
  if (Intercept("CloseHandle", std::string(), FALSE, ERROR_INVALID_HANDLE, &faulted)) return faulted;
  if (!TokenHandles().Close(object)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

// A failed free hands the memory back, as Windows does.
HLOCAL WINAPI LocalFree(HLOCAL memory) {
  HLOCAL faulted = memory;
  if (Intercept("LocalFree", std::string(), memory, ERROR_INVALID_HANDLE, &faulted)) return faulted;
  if (memory != nullptr && !Allocations().Free(memory)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return memory;
  }
  return nullptr;
}

// Through links, as Windows opens the object by its name. Only what the program asks for is
// simulated: the owner and the DACL of a file or folder, with the descriptor that holds them.
DWORD WINAPI GetNamedSecurityInfoA(LPCSTR objectName, SE_OBJECT_TYPE objectType,
                                   SECURITY_INFORMATION information, PSID* owner, PSID* group, PACL* dacl,
                                   PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
  LSTATUS faulted = 0;
  if (InterceptStatus("GetNamedSecurityInfoA", Detail(objectName), &faulted))
    return static_cast<DWORD>(faulted);
  if (objectType != SE_FILE_OBJECT || information != kOwnerAndEntries || owner == nullptr ||
      group != nullptr || dacl == nullptr || sacl != nullptr || descriptor == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  MappedPath mapped;
  if (const DWORD error = LocateObject(objectName, &mapped)) return error;
  const Security security = SecurityOf(mapped.linuxPath);
  const std::vector<BYTE> bytes = EncodeDescriptor(security);
  BYTE* held = static_cast<BYTE*>(Allocations().Add(bytes));
  DWORD ownerOffset = 0, daclOffset = 0;
  DescriptorOffsets(held, &ownerOffset, &daclOffset);
  *descriptor = held;
  *owner = held + ownerOffset;
  *dacl = daclOffset != 0 ? reinterpret_cast<PACL>(held + daclOffset) : nullptr;
  return ERROR_SUCCESS;
}

// Windows' rule for the caller's rights (folder_security.h): WRITE_OWNER for the owner, which
// must be an account that the process may make owner, and WRITE_DAC or owner rights for the
// entries. The entries replace the object's own; those of its files and subfolders stay.
DWORD WINAPI SetNamedSecurityInfoA(LPSTR objectName, SE_OBJECT_TYPE objectType,
                                   SECURITY_INFORMATION information, PSID owner, PSID group, PACL dacl,
                                   PACL sacl) {
  LSTATUS faulted = 0;
  if (InterceptStatus("SetNamedSecurityInfoA", Detail(objectName), &faulted))
    return static_cast<DWORD>(faulted);
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
  if ((setsOwner && !MaySetOwner(security)) || (setsEntries && !MaySetEntries(security)))
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
  BOOL faulted = FALSE;
  if (Intercept("ConvertStringSecurityDescriptorToSecurityDescriptorA", Detail(text), FALSE,
                ERROR_NOT_ENOUGH_MEMORY, &faulted))
    return faulted;
  Security security;
  if (text == nullptr || descriptor == nullptr || revision != SDDL_REVISION_1 ||
      !ParseSddl(text, &security)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::vector<BYTE> bytes = EncodeDescriptor(security);
  *descriptor = Allocations().Add(bytes);
  if (size != nullptr) *size = static_cast<ULONG>(bytes.size());
  return TRUE;
}

BOOL WINAPI GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID* owner, LPBOOL defaulted) {
  BOOL faulted = FALSE;
  if (Intercept("GetSecurityDescriptorOwner", std::string(), FALSE, ERROR_INVALID_SECURITY_DESCR, &faulted))
    return faulted;
  DWORD ownerOffset = 0, daclOffset = 0;
  if (owner == nullptr || defaulted == nullptr || !DescriptorOffsets(descriptor, &ownerOffset, &daclOffset)) {
    SetLastError(ERROR_INVALID_SECURITY_DESCR);
    return FALSE;
  }
  *owner = ownerOffset != 0 ? static_cast<BYTE*>(descriptor) + ownerOffset : nullptr;
  *defaulted = FALSE;
  return TRUE;
}

BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, LPBOOL present, PACL* dacl,
                                      LPBOOL defaulted) {
  BOOL faulted = FALSE;
  if (Intercept("GetSecurityDescriptorDacl", std::string(), FALSE, ERROR_INVALID_SECURITY_DESCR, &faulted))
    return faulted;
  DWORD ownerOffset = 0, daclOffset = 0;
  if (present == nullptr || dacl == nullptr || defaulted == nullptr ||
      !DescriptorOffsets(descriptor, &ownerOffset, &daclOffset)) {
    SetLastError(ERROR_INVALID_SECURITY_DESCR);
    return FALSE;
  }
  *present = daclOffset != 0 ? TRUE : FALSE;
  *dacl = daclOffset != 0 ? reinterpret_cast<PACL>(static_cast<BYTE*>(descriptor) + daclOffset) : nullptr;
  *defaulted = FALSE;
  return TRUE;
}

BOOL WINAPI GetAce(PACL acl, DWORD index, LPVOID* ace) {
  BOOL faulted = FALSE;
  if (Intercept("GetAce", std::to_string(index), FALSE, ERROR_INVALID_PARAMETER, &faulted)) return faulted;
  if (acl == nullptr || ace == nullptr || index >= acl->AceCount) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  BYTE* at = reinterpret_cast<BYTE*>(acl) + sizeof(ACL);
  for (DWORD i = 0; i < index; ++i) at += reinterpret_cast<ACE_HEADER*>(at)->AceSize;
  *ace = at;
  return TRUE;
}

// A comparison of two values in the caller's memory: nothing that a machine can refuse, so
// not counted, as GetCurrentProcess is not.
BOOL WINAPI EqualSid(PSID first, PSID second) {
  std::string one, other;
  if (!DecodeSid(first, &one) || !DecodeSid(second, &other)) {
    SetLastError(ERROR_INVALID_SID);
    return FALSE;
  }
  SetLastError(ERROR_SUCCESS);
  return one == other ? TRUE : FALSE;
}
