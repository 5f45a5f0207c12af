#include "package/folder_security.h"

#include <initializer_list>

#include "platform/platform.h"

namespace {

// SYSTEM and Administrators full control, Users read and execute, for the folder, its files and
// its subfolders, and nothing inherited from above; Administrators the owner.
constexpr const char* kProgramFolderDescriptor =
    "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// The rights that let an account put something of its own into a folder or take it over.
constexpr ACCESS_MASK kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE |
                                     WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// A SID of a fixed account, laid out as Windows lays a SID out.
struct FixedSid {
  BYTE Revision;
  BYTE SubAuthorityCount;
  BYTE IdentifierAuthority[6];
  DWORD SubAuthority[6];
};
constexpr FixedSid kLocalSystem = {1, 1, {0, 0, 0, 0, 0, 5}, {18}};
constexpr FixedSid kAdministrators = {1, 2, {0, 0, 0, 0, 0, 5}, {32, 544}};
constexpr FixedSid kTrustedInstaller = {
    1, 6, {0, 0, 0, 0, 0, 5}, {80, 956008885u, 3425003120u, 1813128437u, 2779224233u, 3052453580u}};

// TOKEN_USER and the SID it points to, which is at most 68 bytes.
constexpr DWORD kTokenUserCapacity = 128;

bool IsPlainFolder(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// The running user's SID, inside `buffer`; nullptr when the token cannot be read.
PSID ReadRunningUser(BYTE (&buffer)[kTokenUserCapacity]) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  DWORD length = 0;
  const BOOL read = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &length);
  CloseHandle(token);
  return read ? reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid : nullptr;
}

bool IsTrustedAccount(PSID account, PSID runningUser) {
  for (const FixedSid* trusted : {&kLocalSystem, &kAdministrators, &kTrustedInstaller}) {
    if (EqualSid(account, const_cast<FixedSid*>(trusted))) return true;
  }
  return runningUser != nullptr && EqualSid(account, runningUser);
}

// Entries that only children inherit, and deny entries, grant the folder nothing. An entry of
// another kind (object or callback entries, which no folder of Windows' own carries) is not read
// as harmless: its layout is another.
bool OnlyTrustedMayWrite(PACL dacl, PSID runningUser) {
  // Without a DACL everyone has full control.
  if (dacl == nullptr) return false;
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* entry = nullptr;
    if (!GetAce(dacl, index, &entry)) return false;
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0 || header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    if ((allowed->Mask & kWriteRights) != 0 && !IsTrustedAccount(&allowed->SidStart, runningUser))
      return false;
  }
  return true;
}

bool CreateFolder(const char* folder, PSECURITY_DESCRIPTOR descriptor) {
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = descriptor;
  return CreateDirectoryA(folder, &attributes) != FALSE;
}

// SetNamedSecurityInfoA follows a link to whatever it names, System32 too: only a plain folder
// is given the descriptor. No one else can put a link in its place since: the vendor folder
// that holds it is the program's, or trusted.
bool TakeOverFolder(char* folder, PSECURITY_DESCRIPTOR descriptor) {
  if (!IsPlainFolder(folder)) return false;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
    return false;
  }
  const SECURITY_INFORMATION what =
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
  return SetNamedSecurityInfoA(folder, SE_FILE_OBJECT, what, owner, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

}  // namespace

bool PrepareInstallFolder(const char* vendorFolder, char* productFolder) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kProgramFolderDescriptor, SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return false;
  }
  const bool vendorReady = CreateFolder(vendorFolder, descriptor) ||
                           (GetLastError() == ERROR_ALREADY_EXISTS && FolderIsTrusted(vendorFolder));
  const bool productReady =
      vendorReady && (CreateFolder(productFolder, descriptor) ||
                      (GetLastError() == ERROR_ALREADY_EXISTS && TakeOverFolder(productFolder, descriptor)));
  LocalFree(descriptor);
  return productReady;
}

bool FolderIsTrusted(const char* folder) {
  if (!IsPlainFolder(folder)) return false;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  alignas(TOKEN_USER) BYTE user[kTokenUserCapacity];
  PSID runningUser = ReadRunningUser(user);
  // A descriptor without an owner (a file system that keeps none) tells nothing of who placed it.
  const bool trusted =
      owner != nullptr && IsTrustedAccount(owner, runningUser) && OnlyTrustedMayWrite(dacl, runningUser);
  LocalFree(descriptor);
  return trusted;
}
