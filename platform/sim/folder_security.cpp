#include "platform/sim/folder_security.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "platform/sim/paths.h"

namespace sim {
namespace {

// What Wine gives Everyone for each of the mode's bits for others: r-x reads 0x1200a9, rwx 0x1301ff.
constexpr ACCESS_MASK kOthersRead = 0x120089;
constexpr ACCESS_MASK kOthersWrite = 0x110156;
constexpr ACCESS_MASK kOthersExecute = 0x1200a0;
// What GENERIC_WRITE means for a file (FILE_GENERIC_WRITE): no WRITE_DAC, no WRITE_OWNER.
constexpr ACCESS_MASK kFileGenericWrite = 0x120116;
constexpr WORD kSelfRelative = 0x8000;
constexpr WORD kDaclPresent = 0x4;
constexpr WORD kDaclProtected = 0x1000;
constexpr DWORD kDescriptorHeader = 20;
constexpr BYTE kSidRevision = 1;
constexpr BYTE kAclRevision = 2;
constexpr BYTE kMaxSubAuthorities = 15;
// The accounts of the running process's token: an administrator's, elevated.
constexpr const char* kTokenAccounts[] = {kRunningUser, kAdministrators, kUsers, kEveryone};

std::map<std::string, Security>& Kept() {
  static std::map<std::string, Security> kept;
  return kept;
}

std::string Resolved(const std::string& linuxPath) {
  char resolved[PATH_MAX];
  return ::realpath(linuxPath.c_str(), resolved) != nullptr ? resolved : linuxPath;
}

bool InToken(const std::string& sid) {
  for (const char* account : kTokenAccounts) {
    if (sid == account) return true;
  }
  return false;
}

ACCESS_MASK Specific(ACCESS_MASK mask) {
  if ((mask & GENERIC_ALL) != 0) mask |= FILE_ALL_ACCESS;
  if ((mask & GENERIC_WRITE) != 0) mask |= kFileGenericWrite;
  return mask;
}

// The rights of the process's accounts: allowed less denied, plus the owner's implicit
// READ_CONTROL and WRITE_DAC, which no entry takes away.
ACCESS_MASK Granted(const Security& security) {
  if (!security.hasDacl) return FILE_ALL_ACCESS;
  ACCESS_MASK allowed = 0, denied = 0;
  for (const AccessEntry& entry : security.entries) {
    if ((entry.flags & INHERIT_ONLY_ACE) != 0 || !InToken(entry.sid)) continue;
    (entry.type == ACCESS_DENIED_ACE_TYPE ? denied : allowed) |= Specific(entry.mask);
  }
  const ACCESS_MASK ownerRights = InToken(security.owner) ? READ_CONTROL | WRITE_DAC : 0;
  return (allowed & ~denied) | ownerRights;
}

const char* const kAliases[][2] = {
    {"SY", kLocalSystem}, {"BA", kAdministrators}, {"BU", kUsers}, {"WD", kEveryone}, {"AN", kAnonymous}};

std::string SidOfSddl(const std::string& text) {
  for (const auto& alias : kAliases) {
    if (text == alias[0]) return alias[1];
  }
  return EncodeSid(text).empty() ? std::string() : text;
}

const char* const kTypes[][2] = {{"A", "\x00"}, {"D", "\x01"}, {"XA", "\x09"}};
const char* const kFlags[] = {"OI", "CI", "", "IO", "ID"};  // bits 0x1, 0x2, 0x8, 0x10

bool ParseEntry(const std::string& text, AccessEntry* entry) {
  std::vector<std::string> fields;
  std::istringstream parts(text);
  for (std::string field; std::getline(parts, field, ';');) fields.push_back(field);
  if (fields.size() != 6 || !fields[3].empty() || !fields[4].empty()) return false;
  bool typeKnown = false;
  for (const auto& type : kTypes) {
    if (fields[0] == type[0]) {
      entry->type = static_cast<BYTE>(type[1][0]);
      typeKnown = true;
    }
  }
  entry->flags = 0;
  for (size_t at = 0; at < fields[1].size(); at += 2) {
    bool flagKnown = false;
    for (size_t bit = 0; bit < sizeof kFlags / sizeof kFlags[0]; ++bit) {
      if (*kFlags[bit] != '\0' && fields[1].compare(at, 2, kFlags[bit]) == 0) {
        entry->flags |= static_cast<BYTE>(1u << bit);
        flagKnown = true;
      }
    }
    if (!flagKnown) return false;
  }
  const std::string& rights = fields[2];
  char* end = nullptr;
  if (rights == "FA") {
    entry->mask = FILE_ALL_ACCESS;
  } else if (rights == "GA") {
    entry->mask = GENERIC_ALL;
  } else if (rights == "GW") {
    entry->mask = GENERIC_WRITE;
  } else if (rights.compare(0, 2, "0x") == 0 && rights.size() > 2) {
    entry->mask = static_cast<ACCESS_MASK>(std::strtoul(rights.c_str() + 2, &end, 16));
    if (*end != '\0') return false;
  } else {
    return false;
  }
  entry->sid = SidOfSddl(fields[5]);
  return typeKnown && !entry->sid.empty();
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

size_t SidLength(const void* sid) {
  return 8 + 4 * static_cast<size_t>(static_cast<const BYTE*>(sid)[1]);
}

}  // namespace

Security SecurityOf(const std::string& linuxPath) {
  const auto found = Kept().find(Resolved(linuxPath));
  if (found != Kept().end()) return found->second;
  Security security;
  struct stat info;
  if (::stat(linuxPath.c_str(), &info) != 0) return security;
  const BYTE inherit = S_ISDIR(info.st_mode) ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0;
  security.owner = info.st_uid == ::geteuid() ? kRunningUser : kAnonymous;
  security.entries = {{ACCESS_ALLOWED_ACE_TYPE, inherit, FILE_ALL_ACCESS, kLocalSystem},
                      {ACCESS_ALLOWED_ACE_TYPE, inherit, FILE_ALL_ACCESS, security.owner}};
  ACCESS_MASK others = 0;
  if ((info.st_mode & S_IROTH) != 0) others |= kOthersRead;
  if ((info.st_mode & S_IWOTH) != 0) others |= kOthersWrite;
  if ((info.st_mode & S_IXOTH) != 0) others |= kOthersExecute;
  if (others != 0) security.entries.push_back({ACCESS_ALLOWED_ACE_TYPE, inherit, others, kEveryone});
  return security;
}

void StoreSecurity(const std::string& linuxPath, const Security& security) {
  Kept()[Resolved(linuxPath)] = security;
}

void ForgetSecurity(const std::string& linuxPath) {
  Kept().erase(linuxPath);
}

void InheritSecurity(const std::string& linuxPath, bool isFolder) {
  const auto parent = Kept().find(Resolved(LinuxParent(linuxPath)));
  if (parent == Kept().end()) return;
  Security security;
  security.owner = kAdministrators;
  for (AccessEntry entry : parent->second.entries) {
    // A folder keeps what its own children inherit; an entry only for files applies to none of it.
    const bool toFolder = (entry.flags & CONTAINER_INHERIT_ACE) != 0;
    const bool toFile = (entry.flags & OBJECT_INHERIT_ACE) != 0;
    if (isFolder ? !(toFolder || toFile) : !toFile) continue;
    const BYTE inheritable = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    entry.flags = !isFolder  ? INHERITED_ACE
                  : toFolder ? static_cast<BYTE>((entry.flags & inheritable) | INHERITED_ACE)
                             : static_cast<BYTE>(OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE | INHERITED_ACE);
    security.entries.push_back(entry);
  }
  Kept()[Resolved(linuxPath)] = security;
}

bool IsFolderLink(const std::string& linuxPath) {
  struct stat link, target;
  return ::lstat(linuxPath.c_str(), &link) == 0 && S_ISLNK(link.st_mode) &&
         ::stat(linuxPath.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
}

bool MaySetOwner(const Security& current) {
  return (Granted(current) & WRITE_OWNER) != 0;
}

bool MaySetEntries(const Security& current) {
  return (Granted(current) & WRITE_DAC) != 0;
}

bool MayOwn(const std::string& sid) {
  return sid == kRunningUser || sid == kAdministrators;
}

bool ParseSddl(const std::string& text, Security* security) {
  *security = Security();
  size_t at = 0;
  if (text.compare(0, 2, "O:") == 0) {
    const size_t dacl = text.find("D:", 2);
    security->owner = SidOfSddl(text.substr(2, dacl - 2));
    if (security->owner.empty() || dacl == std::string::npos) return false;
    at = dacl;
  }
  if (text.compare(at, 2, "D:") != 0) return false;
  at += 2;
  if (text.compare(at, std::string::npos, "NO_ACCESS_CONTROL") == 0) {
    security->hasDacl = false;
    return true;
  }
  if (at < text.size() && text[at] == 'P') {
    security->isProtected = true;
    ++at;
  }
  while (at < text.size()) {
    const size_t close = text.find(')', at);
    AccessEntry entry;
    if (text[at] != '(' || close == std::string::npos ||
        !ParseEntry(text.substr(at + 1, close - at - 1), &entry))
      return false;
    security->entries.push_back(entry);
    at = close + 1;
  }
  return true;
}

std::string FormatSddl(const Security& security) {
  std::string text = security.owner.empty() ? "" : "O:" + security.owner;
  if (!security.hasDacl) return text + "D:NO_ACCESS_CONTROL";
  text += security.isProtected ? "D:P" : "D:";
  for (const AccessEntry& entry : security.entries) {
    std::string type, flags;
    for (const auto& known : kTypes) {
      if (entry.type == static_cast<BYTE>(known[1][0])) type = known[0];
    }
    for (size_t bit = 0; bit < sizeof kFlags / sizeof kFlags[0]; ++bit) {
      if ((entry.flags & (1u << bit)) != 0) flags += kFlags[bit];
    }
    char mask[16];
    std::snprintf(mask, sizeof mask, "0x%x", static_cast<unsigned>(entry.mask));
    text += "(" + type + ";" + flags + ";" + mask + ";;;" + entry.sid + ")";
  }
  return text;
}

std::vector<BYTE> EncodeSid(const std::string& sid) {
  std::vector<BYTE> bytes;
  if (sid.compare(0, 4, "S-1-") != 0) return bytes;
  std::vector<unsigned long long> numbers;
  const char* at = sid.c_str() + 4;
  while (true) {
    char* end = nullptr;
    if (!std::isdigit(static_cast<unsigned char>(*at))) return {};
    numbers.push_back(std::strtoull(at, &end, 10));
    if (*end == '\0') break;
    if (*end != '-') return {};
    at = end + 1;
  }
  if (numbers.size() > 1u + kMaxSubAuthorities || numbers[0] >= (1ull << 48)) return {};
  bytes = {kSidRevision, static_cast<BYTE>(numbers.size() - 1)};
  for (int shift = 40; shift >= 0; shift -= 8) bytes.push_back(static_cast<BYTE>(numbers[0] >> shift));
  for (size_t i = 1; i < numbers.size(); ++i) {
    if (numbers[i] > 0xFFFFFFFFull) return {};
    const DWORD sub = static_cast<DWORD>(numbers[i]);
    Append(&bytes, &sub, sizeof sub);
  }
  return bytes;
}

bool DecodeSid(const void* sid, std::string* text) {
  const auto* bytes = static_cast<const BYTE*>(sid);
  if (bytes == nullptr || bytes[0] != kSidRevision || bytes[1] > kMaxSubAuthorities) return false;
  unsigned long long authority = 0;
  for (int i = 2; i < 8; ++i) authority = authority << 8 | bytes[i];
  *text = "S-1-" + std::to_string(authority);
  for (BYTE i = 0; i < bytes[1]; ++i) *text += "-" + std::to_string(Read<DWORD>(bytes + 8 + 4 * i));
  return true;
}

bool DecodeAcl(const ACL* acl, std::vector<AccessEntry>* entries) {
  entries->clear();
  if (acl == nullptr || acl->AclRevision != kAclRevision) return false;
  const auto* bytes = reinterpret_cast<const BYTE*>(acl);
  size_t at = sizeof(ACL);
  for (WORD i = 0; i < acl->AceCount; ++i) {
    const auto header = Read<ACE_HEADER>(bytes + at);
    AccessEntry entry;
    entry.type = header.AceType;
    entry.flags = header.AceFlags;
    entry.mask = Read<ACCESS_MASK>(bytes + at + sizeof(ACE_HEADER));
    const BYTE* sid = bytes + at + 8;
    if (header.AceSize < 16 || at + header.AceSize > acl->AclSize || 8 + SidLength(sid) > header.AceSize ||
        !DecodeSid(sid, &entry.sid)) {
      return false;
    }
    entries->push_back(entry);
    at += header.AceSize;
  }
  return true;
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

  const WORD control =
      kSelfRelative | (security.hasDacl ? kDaclPresent : 0) | (security.isProtected ? kDaclProtected : 0);
  const DWORD ownerOffset = owner.empty() ? 0 : kDescriptorHeader;
  const DWORD daclOffset = security.hasDacl ? kDescriptorHeader + static_cast<DWORD>(owner.size()) : 0;
  if (!security.hasDacl) acl.clear();
  const DWORD none = 0;
  std::vector<BYTE> bytes = {kSidRevision, 0};
  Append(&bytes, &control, sizeof control);
  for (const DWORD* offset : {&ownerOffset, &none, &none, &daclOffset})
    Append(&bytes, offset, sizeof *offset);
  Append(&bytes, owner.data(), owner.size());
  Append(&bytes, acl.data(), acl.size());
  return bytes;
}

bool DescriptorOffsets(const void* descriptor, DWORD* owner, DWORD* dacl) {
  const auto* bytes = static_cast<const BYTE*>(descriptor);
  if (bytes == nullptr || bytes[0] != kSidRevision) return false;
  const WORD control = Read<WORD>(bytes + 2);
  if ((control & kSelfRelative) == 0) return false;
  *owner = Read<DWORD>(bytes + 4);
  *dacl = (control & kDaclPresent) != 0 ? Read<DWORD>(bytes + 16) : 0;
  return true;
}

bool DecodeDescriptor(const void* descriptor, Security* security, bool* hasOwner) {
  DWORD owner = 0, dacl = 0;
  *security = Security();
  if (!DescriptorOffsets(descriptor, &owner, &dacl) || dacl == 0) return false;
  const auto* bytes = static_cast<const BYTE*>(descriptor);
  *hasOwner = owner != 0;
  if (owner != 0 && !DecodeSid(bytes + owner, &security->owner)) return false;
  security->isProtected = (Read<WORD>(bytes + 2) & kDaclProtected) != 0;
  return DecodeAcl(reinterpret_cast<const ACL*>(bytes + dacl), &security->entries);
}

void ClearSecurity() {
  Kept().clear();
}

bool ParseSecurityFile(const std::string& text, const std::string& machineFolder, std::string* error) {
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (line.empty()) continue;
    const size_t space = line.find(' ');
    Security security;
    if (space == std::string::npos || space + 1 == line.size() ||
        !ParseSddl(line.substr(0, space), &security)) {
      *error = "line " + std::to_string(number) + " is not \"<SDDL> <path>\": " + line;
      return false;
    }
    const std::string path = line.substr(space + 1);
    Kept()[path[0] == '/' ? path : machineFolder + "/" + path] = security;
  }
  return true;
}

std::string FormatSecurityFile(const std::string& machineFolder) {
  std::string text;
  const std::string inside = machineFolder + "/";
  for (auto kept = Kept().begin(); kept != Kept().end();) {
    struct stat info;
    // Files removed behind the machine's back take their records with them.
    if (::lstat(kept->first.c_str(), &info) != 0) {
      kept = Kept().erase(kept);
      continue;
    }
    const std::string& path = kept->first;
    text += FormatSddl(kept->second) + " " +
            (path.compare(0, inside.size(), inside) == 0 ? path.substr(inside.size()) : path) + "\n";
    ++kept;
  }
  return text;
}

const std::map<std::string, Security>& KeptSecurity() {
  return Kept();
}

}  // namespace sim
