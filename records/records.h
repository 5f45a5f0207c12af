// The registry records that the installer keeps, in one place: the fixed key paths
// and value names that do not come from the string table, and the data lengths that
// stored records and their readers agree on.
#pragma once

// Every stored text buffer and every fixed-length record value is this long.
constexpr unsigned kTextCapacity = 512;

// InstallInf reaches the vendor key through these two fixed levels; the other steps
// open it by the path of IDS_VENDOR_KEY. Key names ignore case, so both name one key.
constexpr const char* kSoftwareKey = "SOFTWARE";
constexpr const char* kVendorKeyName = "Orvix";

// Values of the product key.
constexpr const char* kInstallValue = "Install";
constexpr const char* kInstallSuccess = "Success";
constexpr const char* kInstallFail = "Fail";
constexpr const char* kRebootValue = "reboot";
constexpr const char* kRebootText = "reboot";
constexpr const char* kVersionValue = "Version";

// "Install", "reboot", "Version" and both slots are stored as exactly this many bytes:
// the text, its NUL, then NUL bytes. Readers of the slots depend on it.
constexpr unsigned kRecordValueLength = 512;

// The two record slots of the Parameters key: the first INF of a mode takes slot 0, the
// second slot 1.
enum InfSlot { kInfSlot0 = 0, kInfSlot1 = 1 };
constexpr int kInfSlotCount = 2;

// A copy in the system's INF store that this run's pre-install named (path "" when none),
// and whether the run made it: a copy that was in the store before the run is not its own.
struct StoredInf {
  char path[kRecordValueLength];
  bool own;
};

// Values of the product's Add/Remove entry, stored with the text's length and no NUL.
constexpr const char* kDisplayNameValue = "DisplayName";
constexpr const char* kUninstallStringValue = "UninstallString";
// The entry's version, what deployment tools detect an upgrade by: the text of IDS_VERSION,
// stored with its NUL, as Windows keeps the values that it writes itself.
constexpr const char* kDisplayVersionValue = "DisplayVersion";

// The Add/Remove list and the second entry that the uninstall removes by a fixed name.
constexpr const char* kUninstallKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const char* kLumoraEntryName = "Lumora";
