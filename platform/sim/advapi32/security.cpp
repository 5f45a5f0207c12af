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

// Where the call names a file or folder that exists; else the error Windows gives. The program
// names only a folder that GetFileAttributesA has just found: the name maps again, but another
// program may have deleted the folder since.
DWORD LocateObject(LPCSTR path, MappedPath* mapped) {
  DWORD error = ERROR_SUCCESS;
  if (!MapWindowsPath(path, mapped, &error)) return error;  // GCOVR_EXCL_BR_LINE: found by this name
  struct stat info;
  if (::stat(mapped->linuxPath.c_str(), &info) != 0) return MissingPathError(*mapped);
  return ERROR_SUCCESS;
}

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

// The program asks only for its own token, to query, and for the user it runs as, in a buffer that
// holds any SID; it reads the SID from the structure.
BOOL WINAPI OpenProcessToken(HANDLE /*process*/, DWORD access, PHANDLE token) {
  SIM_CALL(OpenProcessToken, access);
  *token = TokenHandles().Add(TokenHandle{});
  return TRUE;
}

// The SID lies in the caller's buffer, after the structure that points to it.
BOOL WINAPI GetTokenInformation(HANDLE /*token*/, TOKEN_INFORMATION_CLASS informationClass,
                                LPVOID information, DWORD /*length*/, PDWORD returnLength) {
  SIM_CALL(GetTokenInformation, static_cast<DWORD>(informationClass));
  const std::vector<BYTE> sid = EncodeSid(kRunningUser);
  *returnLength = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
  auto* user = static_cast<TOKEN_USER*>(information);
  user->User.Sid = user + 1;
  user->User.Attributes = 0;
  std::memcpy(user + 1, sid.data(), sid.size());
  return TRUE;
}

// Through links, as Windows opens the object by its name. Only what the program asks for is
// simulated: the owner and the DACL of a folder, with the descriptor that holds them.
DWORD WINAPI GetNamedSecurityInfoA(LPCSTR objectName, SE_OBJECT_TYPE /*objectType*/,
                                   SECURITY_INFORMATION /*information*/, PSID* owner, PSID* /*group*/,
                                   PACL* dacl, PACL* /*sacl*/, PSECURITY_DESCRIPTOR* descriptor) {
  SIM_CALL(GetNamedSecurityInfoA, objectName);
  MappedPath mapped;
  if (const DWORD error = LocateObject(objectName, &mapped)) return error;
  *descriptor = HandOut(EncodeDescriptor(SecurityOf(mapped.linuxPath)));
  DescriptorParts(*descriptor, owner, dacl);
  return ERROR_SUCCESS;
}

// The program sets the owner and the protected entries of a folder at once, from the descriptor
// that it had the machine make. Windows' rule for the caller's rights (folder_security.h):
// WRITE_OWNER for the owner, and WRITE_DAC or owner rights for the entries. The entries replace
// the object's own; those of its files and subfolders stay.
DWORD WINAPI SetNamedSecurityInfoA(LPSTR objectName, SE_OBJECT_TYPE /*objectType*/,
                                   SECURITY_INFORMATION information, PSID owner, PSID /*group*/, PACL dacl,
                                   PACL /*sacl*/) {
  SIM_CALL(SetNamedSecurityInfoA, objectName);
  MappedPath mapped;
  if (const DWORD error = LocateObject(objectName, &mapped)) return error;
  Security security = SecurityOf(mapped.linuxPath);
  constexpr ACCESS_MASK kNeeded = WRITE_OWNER | WRITE_DAC;
  if ((GrantedRights(security) & kNeeded) != kNeeded) return ERROR_ACCESS_DENIED;
  DecodeSid(owner, &security.owner);
  DecodeAcl(dacl, &security.entries);
  security.hasDacl = true;
  security.isProtected = (information & PROTECTED_DACL_SECURITY_INFORMATION) != 0;
  StoreSecurity(mapped.linuxPath, security);
  return ERROR_SUCCESS;
}

// The program's own descriptor, a constant of its text, which it frees without asking its size.
BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD /*revision*/,
                                                                 PSECURITY_DESCRIPTOR* descriptor,
                                                                 PULONG /*size*/) {
  SIM_CALL(ConvertStringSecurityDescriptorToSecurityDescriptorA, text);
  Security security;
  ParseSddl(text, &security);
  *descriptor = HandOut(EncodeDescriptor(security));
  return TRUE;
}

// The descriptor is the one that the call above handed out.
BOOL WINAPI GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID* owner, LPBOOL defaulted) {
  SIM_CALL(GetSecurityDescriptorOwner);
  PACL dacl = nullptr;
  DescriptorParts(descriptor, owner, &dacl);
  *defaulted = FALSE;
  return TRUE;
}

BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, LPBOOL present, PACL* dacl,
                                      LPBOOL defaulted) {
  SIM_CALL(GetSecurityDescriptorDacl);
  PSID owner = nullptr;
  DescriptorParts(descriptor, &owner, dacl);
  *present = static_cast<BOOL>(*dacl != nullptr);
  *defaulted = FALSE;
  return TRUE;
}

// The program asks for each entry of a DACL that the machine handed out, by its index.
BOOL WINAPI GetAce(PACL acl, DWORD index, LPVOID* ace) {
  SIM_CALL(GetAce, index);
  BYTE* at = reinterpret_cast<BYTE*>(acl) + sizeof(ACL);
  for (DWORD i = 0; i < index; ++i) at += reinterpret_cast<ACE_HEADER*>(at)->AceSize;
  *ace = at;
  return TRUE;
}

// A comparison in the caller's memory: not counted (calls.h). The program compares SIDs of its
// own and those that the machine handed out.
BOOL WINAPI EqualSid(PSID first, PSID second) {
  std::string one, other;
  DecodeSid(first, &one);
  DecodeSid(second, &other);
  TheMachine().lastError = ERROR_SUCCESS;
  return one == other ? TRUE : FALSE;
}
