// Who owns the machine's files and folders and who may write them: an owner, a protected
// flag and access entries per path, the Linux folder links that read as reparse points, and
// the binary forms that the security calls hand over. Linux has no place for descriptors, so
// the machine keeps those it was given, per path, in a text file in the machine folder, as
// SDDL. A path without one reads as Wine 8 makes one from the Linux mode (see SecurityOf).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/sim/win32_api.h"

namespace sim {

constexpr const char* kSecurityFileName = "security.txt";

// Accounts by SID.
constexpr const char* kLocalSystem = "S-1-5-18";
constexpr const char* kAdministrators = "S-1-5-32-544";
constexpr const char* kUsers = "S-1-5-32-545";
constexpr const char* kEveryone = "S-1-1-0";
constexpr const char* kAnonymous = "S-1-5-7";
// The user that runs the program, elevated: Wine's own user.
constexpr const char* kRunningUser = "S-1-5-21-0-0-0-1000";

struct AccessEntry {
  BYTE type = ACCESS_ALLOWED_ACE_TYPE;
  BYTE flags = 0;
  ACCESS_MASK mask = 0;
  std::string sid;
};

struct Security {
  std::string owner;    // empty: none
  bool hasDacl = true;  // without one, everyone has full control
  bool isProtected = false;
  std::vector<AccessEntry> entries;
};

// The descriptor of the folder that `linuxPath` names, through links: the one kept, else Wine's
// reading of the Linux mode: owner the running user (Anonymous for a folder of another Linux
// user), full control for SYSTEM and the owner, and Everyone with the rights of the mode's bits
// for others, all inherited by what the folder holds.
Security SecurityOf(const std::string& linuxPath);
void StoreSecurity(const std::string& linuxPath, const Security& security);
// The path's own record, not its target's: a deleted link takes its own.
void ForgetSecurity(const std::string& linuxPath);
// What a new file gets: the folder's entries (all of which files inherit in the program's
// folder, the only one given a record), marked inherited, and the creator's owner
// (Administrators, as for an elevated administrator); nothing kept when the folder has no record.
void InheritSecurity(const std::string& linuxPath);
// The records kept, by Linux path.
std::map<std::string, Security>& KeptSecurity();

// As Wine reads a Linux symbolic link to a folder: a reparse point. One to a file reads as a file.
bool IsFolderLink(const std::string& linuxPath);

// The rights of the running process's accounts: allowed less denied, whatever their order, plus
// the owner's implicit READ_CONTROL and WRITE_DAC. Of the generic rights only GENERIC_ALL counts,
// the one that grants WRITE_DAC and WRITE_OWNER.
ACCESS_MASK GrantedRights(const Security& security);

// SDDL, as far as the machine's files and the program need it: "O:<sid>", "D:NO_ACCESS_CONTROL"
// (no DACL) or "D:[P]" with entries "(A|D|XA;[OI][CI][IO][ID];FA|GW|0x<hex>;;;<sid>)", SIDs as
// "S-1-..." or SY, BA, BU, WD.
bool ParseSddl(const std::string& text, Security* security);
std::string FormatSddl(const Security& security);

// The self-relative descriptor, with an owner and a DACL when there are.
std::vector<BYTE> EncodeDescriptor(const Security& security);
// Empty when `sid` is no SID.
std::vector<BYTE> EncodeSid(const std::string& sid);
// And back. What the machine decodes it encoded itself, or is one of the program's own SIDs: the
// descriptor handed to CreateDirectoryA is the one the machine made from the program's text, with
// an owner and a DACL.
void DecodeSid(const void* sid, std::string* text);
void DecodeAcl(const ACL* acl, std::vector<AccessEntry>* entries);
void DecodeDescriptor(const void* descriptor, Security* security);
// The owner and the DACL inside a self-relative descriptor; nullptr: none.
void DescriptorParts(void* descriptor, PSID* owner, PACL* dacl);

}  // namespace sim
