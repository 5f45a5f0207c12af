#include "platform/sim/folder_security.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <regex>

#include "platform/sim/machine.h"
#include "platform/sim/paths.h"

namespace sim {
namespace {

// What Wine gives Everyone for each of the mode's bits for others: r-x reads 0x1200a9, rwx 0x1301ff.
constexpr ACCESS_MASK kOthersRead = 0x120089;
constexpr ACCESS_MASK kOthersWrite = 0x110156;
constexpr ACCESS_MASK kOthersExecute = 0x1200a0;
constexpr WORD kSelfRelative = 0x8000;
constexpr WORD kDaclPresent = 0x4;
constexpr WORD kDaclProtected = 0x1000;
constexpr DWORD kDescriptorHeader = 20;
constexpr BYTE kSidRevision = 1;
constexpr BYTE kAclRevision = 2;
// The accounts of the running process's token: an administrator's, elevated.
constexpr const char* kTokenAccounts[] = {kRunningUser, kAdministrators, kUsers, kEveryone};

// Every path asked about exists: realpath fails only when the host refuses a folder on the way.
std::string Resolved(const std::string& linuxPath) {
  char resolved[PATH_MAX];
  return ::realpath(linuxPath.c_str(), resolved) != nullptr ? resolved : linuxPath;  // GCOVR_EXCL_BR_LINE
}

bool InToken(const std::string& sid) {
  for (const char* account : kTokenAccounts) {
    if (sid == account) return true;
  }
  return false;
}

// Only what a generic right means for WRITE_DAC and WRITE_OWNER, which are all that is asked:
// GENERIC_WRITE, for a file, grants neither.
ACCESS_MASK Specific(ACCESS_MASK mask) {
  if ((mask & GENERIC_ALL) != 0) mask |= FILE_ALL_ACCESS;
  return mask;
}

const char* const kAliases[][2] = {
    {"SY", kLocalSystem}, {"BA", kAdministrators}, {"BU", kUsers}, {"WD", kEveryone}};

// False when the text names no SID that encodes.
bool SidOfSddl(const std::string& text, std::string* sid) {
  *sid = text;
  for (const auto& alias : kAliases) {
    if (text == alias[0]) *sid = alias[1];
  }
  return !EncodeSid(*sid).empty();
}

// The SDDL names of entry types and flags, both ways.
struct Named {
  const char* name;
  BYTE value;
};
constexpr Named kTypes[] = {
    {"A", ACCESS_ALLOWED_ACE_TYPE}, {"D", ACCESS_DENIED_ACE_TYPE}, {"XA", ACCESS_ALLOWED_CALLBACK_ACE_TYPE}};
constexpr Named kFlags[] = {{"OI", OBJECT_INHERIT_ACE},
                            {"CI", CONTAINER_INHERIT_ACE},
                            {"IO", INHERIT_ONLY_ACE},
                            {"ID", INHERITED_ACE}};

template <size_t N>
void ValueOf(const Named (&table)[N], const std::string& name, BYTE* value) {
  for (const Named& known : table) {
    if (name == known.name) *value = known.value;
  }
}

void Append(std::vector<BYTE>* bytes, const void* data, size_t size) {
  const auto* begin = static_cast<const BYTE*>(data);
  bytes->insert(bytes->end(), begin, begin + size);
}

template <typename T>
T Read(const void* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

}  // namespace

std::map<std::string, Security>& KeptSecurity() {
  return TheMachine().security;
}

Security SecurityOf(const std::string& linuxPath) {
  const auto found = KeptSecurity().find(Resolved(linuxPath));
  if (found != KeptSecurity().end()) return found->second;
  // Only the program's folders are asked about, and only once found.
  Security security;
  struct stat info {};
  ::stat(linuxPath.c_str(), &info);
  const BYTE inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  // Only root can give a folder to another Linux user: a tester, as no test assumes root.
  security.owner = info.st_uid == ::geteuid() ? kRunningUser : kAnonymous;  // GCOVR_EXCL_BR_LINE
  security.entries.push_back({ACCESS_ALLOWED_ACE_TYPE, inherit, FILE_ALL_ACCESS, kLocalSystem});
  security.entries.push_back({ACCESS_ALLOWED_ACE_TYPE, inherit, FILE_ALL_ACCESS, security.owner});
  ACCESS_MASK others = 0;
  if ((info.st_mode & S_IROTH) != 0) others |= kOthersRead;
  if ((info.st_mode & S_IWOTH) != 0) others |= kOthersWrite;
  if ((info.st_mode & S_IXOTH) != 0) others |= kOthersExecute;
  if (others != 0) security.entries.push_back({ACCESS_ALLOWED_ACE_TYPE, inherit, others, kEveryone});
  return security;
}

void StoreSecurity(const std::string& linuxPath, const Security& security) {
  KeptSecurity()[Resolved(linuxPath)] = security;
}

void ForgetSecurity(const std::string& linuxPath) {
  KeptSecurity().erase(linuxPath);
}

void InheritSecurity(const std::string& linuxPath) {
  const auto parent = KeptSecurity().find(Resolved(LinuxParent(linuxPath)));
  if (parent == KeptSecurity().end()) return;
  // Files are made only in the program's folder, whose entries all pass to files.
  Security security;
  security.owner = kAdministrators;
  for (AccessEntry entry : parent->second.entries) {
    entry.flags = INHERITED_ACE;
    security.entries.push_back(entry);
  }
  StoreSecurity(linuxPath, security);
}

// The caller has found the path. The program asks about its folders, which only an administrator
// could make a link to a file, and about files in its own trusted folder: only a person or a test
// plants a link to a file there.
bool IsFolderLink(const std::string& linuxPath) {
  struct stat link {};
  struct stat target {};
  ::lstat(linuxPath.c_str(), &link);
  ::stat(linuxPath.c_str(), &target);
  return S_ISLNK(link.st_mode) && S_ISDIR(target.st_mode);  // GCOVR_EXCL_BR_LINE
}

ACCESS_MASK GrantedRights(const Security& security) {
  if (!security.hasDacl) return FILE_ALL_ACCESS;
  ACCESS_MASK allowed = 0, denied = 0;
  for (const AccessEntry& entry : security.entries) {
    if ((entry.flags & INHERIT_ONLY_ACE) != 0 || !InToken(entry.sid)) continue;
    (entry.type == ACCESS_DENIED_ACE_TYPE ? denied : allowed) |= Specific(entry.mask);
  }
  const ACCESS_MASK ownerRights = InToken(security.owner) ? READ_CONTROL | WRITE_DAC : 0;
  return (allowed & ~denied) | ownerRights;
}

bool ParseSddl(const std::string& text, Security* security) {
  static const std::regex whole(R"((?:O:(.+?))?D:(NO_ACCESS_CONTROL$|P?)(.*))");
  static const std::regex entry(R"(\((A|D|XA);((?:OI|CI|IO|ID)*);(FA|GW|0x[0-9a-fA-F]{1,8});;;([^;()]+)\))");
  std::smatch parts;
  *security = Security();
  // What the program gives is one constant; only a person or a test writes what is refused.
  if (!std::regex_match(text, parts, whole)) return false;  // GCOVR_EXCL_BR_LINE
  bool sidsEncode = true;
  if (parts[1].matched) sidsEncode &= SidOfSddl(parts[1], &security->owner);
  security->hasDacl = parts[2] != "NO_ACCESS_CONTROL";
  security->isProtected = parts[2] == "P";
  std::string rest = parts[3];
  while (std::regex_search(rest, parts, entry, std::regex_constants::match_continuous)) {
    AccessEntry added;
    sidsEncode &= SidOfSddl(parts[4], &added.sid);
    ValueOf(kTypes, parts[1], &added.type);
    for (size_t at = 0; at < parts.str(2).size(); at += 2) {
      BYTE flag = 0;
      ValueOf(kFlags, parts.str(2).substr(at, 2), &flag);
      added.flags |= flag;
    }
    const std::string mask = parts[3];
    added.mask = mask == "FA"   ? FILE_ALL_ACCESS
                 : mask == "GW" ? GENERIC_WRITE
                                : static_cast<ACCESS_MASK>(std::stoul(mask, nullptr, 16));
    security->entries.push_back(added);
    rest = parts.suffix();
  }
  return sidsEncode && rest.empty();  // GCOVR_EXCL_BR_LINE: as above
}

std::string FormatSddl(const Security& security) {
  // The program's records have an owner and a DACL: only a person or a test seeds one without.
  std::string text;
  if (!security.owner.empty()) text = "O:" + security.owner;   // GCOVR_EXCL_BR_LINE
  if (!security.hasDacl) return text + "D:NO_ACCESS_CONTROL";  // GCOVR_EXCL_BR_LINE
  text += security.isProtected ? "D:P" : "D:";
  for (const AccessEntry& entry : security.entries) {
    text += "(";
    for (const Named& type : kTypes) text += entry.type == type.value ? type.name : "";
    text += ";";
    for (const Named& flag : kFlags) text += (entry.flags & flag.value) != 0 ? flag.name : "";
    char mask[16];
    std::snprintf(mask, sizeof mask, ";0x%x;;;", static_cast<unsigned>(entry.mask));
    text += mask + entry.sid + ")";
  }
  return text;
}

std::vector<BYTE> EncodeSid(const std::string& sid) {
  static const std::regex form(R"(S-1-(\d{1,15})((?:-\d{1,10}){0,15}))"), number(R"(\d+)");
  std::smatch parts;
  if (!std::regex_match(sid, parts, form)) return {};
  const unsigned long long authority = std::stoull(parts[1]);
  bool fits = authority < (1ull << 48);
  std::vector<BYTE> bytes = {kSidRevision, 0};
  for (int shift = 40; shift >= 0; shift -= 8) bytes.push_back(static_cast<BYTE>(authority >> shift));
  const std::string subs = parts[2];
  for (std::sregex_iterator at(subs.begin(), subs.end(), number), end; at != end; ++at, ++bytes[1]) {
    const unsigned long long value = std::stoull(at->str());
    fits &= value <= 0xFFFFFFFFull;
    const DWORD sub = static_cast<DWORD>(value);
    Append(&bytes, &sub, sizeof sub);
  }
  // Numbers too large for a SID come only from what a person or a test writes.
  if (!fits) return {};  // GCOVR_EXCL_BR_LINE
  return bytes;
}

void DecodeSid(const void* sid, std::string* text) {
  const auto* bytes = static_cast<const BYTE*>(sid);
  unsigned long long authority = 0;
  for (int i = 2; i < 8; ++i) authority = authority << 8 | bytes[i];
  // The revision leads, as in "S-1-...": a SID of another revision is another SID.
  *text = "S-" + std::to_string(bytes[0]) + "-" + std::to_string(authority);
  for (BYTE i = 0; i < bytes[1]; ++i) *text += "-" + std::to_string(Read<DWORD>(bytes + 8 + 4 * i));
}

void DecodeAcl(const ACL* acl, std::vector<AccessEntry>* entries) {
  entries->clear();
  const auto* bytes = reinterpret_cast<const BYTE*>(acl);
  size_t at = sizeof(ACL);
  for (WORD i = 0; i < acl->AceCount; ++i) {
    const auto header = Read<ACE_HEADER>(bytes + at);
    AccessEntry entry{header.AceType, header.AceFlags, Read<ACCESS_MASK>(bytes + at + sizeof(ACE_HEADER)),
                      ""};
    DecodeSid(bytes + at + 8, &entry.sid);
    entries->push_back(entry);
    at += header.AceSize;
  }
}

std::vector<BYTE> EncodeDescriptor(const Security& security) {
  const std::vector<BYTE> owner = EncodeSid(security.owner);
  std::vector<BYTE> acl(sizeof(ACL));
  for (const AccessEntry& entry : security.entries) {
    const std::vector<BYTE> sid = EncodeSid(entry.sid);
    const ACE_HEADER header = {entry.type, entry.flags, static_cast<WORD>(8 + sid.size())};
    Append(&acl, &header, sizeof header);
    Append(&acl, &entry.mask, sizeof entry.mask);
    Append(&acl, sid.data(), sid.size());
  }
  const ACL head = {kAclRevision, 0, static_cast<WORD>(acl.size()),
                    static_cast<WORD>(security.entries.size()), 0};
  std::memcpy(acl.data(), &head, sizeof head);
  if (!security.hasDacl) acl.clear();

  const WORD control =
      kSelfRelative | (security.hasDacl ? kDaclPresent : 0) | (security.isProtected ? kDaclProtected : 0);
  const DWORD offsets[] = {owner.empty() ? 0 : kDescriptorHeader, 0, 0,
                           security.hasDacl ? kDescriptorHeader + static_cast<DWORD>(owner.size()) : 0};
  std::vector<BYTE> bytes = {kSidRevision, 0};
  Append(&bytes, &control, sizeof control);
  Append(&bytes, offsets, sizeof offsets);
  Append(&bytes, owner.data(), owner.size());
  Append(&bytes, acl.data(), acl.size());
  return bytes;
}

void DescriptorParts(void* descriptor, PSID* owner, PACL* dacl) {
  auto* bytes = static_cast<BYTE*>(descriptor);
  const DWORD ownerOffset = Read<DWORD>(bytes + 4);
  const DWORD daclOffset = (Read<WORD>(bytes + 2) & kDaclPresent) != 0 ? Read<DWORD>(bytes + 16) : 0;
  *owner = ownerOffset != 0 ? bytes + ownerOffset : nullptr;
  *dacl = daclOffset != 0 ? reinterpret_cast<PACL>(bytes + daclOffset) : nullptr;
}

void DecodeDescriptor(const void* descriptor, Security* security) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  *security = Security();
  DescriptorParts(const_cast<void*>(descriptor), &owner, &dacl);
  DecodeSid(owner, &security->owner);
  security->isProtected = (Read<WORD>(static_cast<const BYTE*>(descriptor) + 2) & kDaclProtected) != 0;
  DecodeAcl(dacl, &security->entries);
}

}  // namespace sim
