#include "devices/supported_devices.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "devices/hex_field.h"
#include "platform/platform.h"
#include "records/records.h"
#include "resources/string_ids.h"

namespace {

constexpr uint32_t kBuiltInVendor = 0x1E7C;
constexpr uint32_t kBuiltInDevices[] = {0x3A02, 0x3A07, 0x3A15, 0x4C21, 0x4C40, 0x4C41, 0x4C42, 0x4C43,
                                        0x4C44, 0x4C45, 0x4C46, 0x4C47, 0x5B10, 0x6E03, 0x7D31};

// Longer names, and larger value data, fail the enumeration call; that ends the
// walk of the subkeys or of one subkey's values.
constexpr DWORD kVendorNameCapacity = 128;
constexpr DWORD kDeviceNameCapacity = 512;
constexpr DWORD kValueDataCapacity = 512;

constexpr int kIdDigits = 4;

// One vendor subkey's values. Counts when `entries` is nullptr; otherwise fills
// entries[found] onwards and stops once `capacity` entries are filled. Returns the new
// number found.
uint32_t WalkVendorDevices(HKEY vendorKey, uint32_t vendorId, DevicePair* entries, uint32_t capacity,
                           uint32_t found) {
  for (DWORD index = 0;; ++index) {
    char deviceName[kDeviceNameCapacity];
    DWORD deviceNameSize = kDeviceNameCapacity;
    BYTE data[kValueDataCapacity];
    DWORD dataSize = kValueDataCapacity;
    if (RegEnumValueA(vendorKey, index, deviceName, &deviceNameSize, nullptr, nullptr, data, &dataSize) !=
        ERROR_SUCCESS) {
      break;
    }
    if (entries != nullptr && found == capacity) break;
    uint32_t deviceId = 0;
    if (!ReadHexField(deviceName, kIdDigits, &deviceId)) continue;
    if (entries != nullptr) entries[found] = {vendorId & 0xFFFF, deviceId & 0xFFFF};
    ++found;
  }
  return found;
}

// One walk over one view of the list, counting or filling as WalkVendorDevices does, on
// from `found` entries. Both passes come through here, so the filling pass never finds
// more than the counting pass counted unless the list itself grew in between.
uint32_t WalkSupportedDevices(HKEY list, REGSAM view, DevicePair* entries, uint32_t capacity,
                              uint32_t found) {
  for (DWORD index = 0;; ++index) {
    char vendorName[kVendorNameCapacity];
    DWORD vendorNameSize = kVendorNameCapacity;
    if (RegEnumKeyExA(list, index, vendorName, &vendorNameSize, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    // A mistyped vendor name must not become vendor 0: such entries would match every
    // device without a PCI-style vendor field.
    uint32_t vendorId = 0;
    if (!ReadHexField(vendorName, kIdDigits, &vendorId)) continue;
    HKEY vendorKey = nullptr;
    if (RegOpenKeyExA(list, vendorName, 0, KEY_ALL_ACCESS | view, &vendorKey) != ERROR_SUCCESS) continue;
    found = WalkVendorDevices(vendorKey, vendorId, entries, capacity, found);
    RegCloseKey(vendorKey);
  }
  return found;
}

// The list as the registry views keep it: the process's own view, then, on 64-bit
// Windows, the 32-bit view, where a 32-bit component writes it. A view without the list
// adds nothing.
struct ListViews {
  HKEY keys[2];
  REGSAM views[2];
  int count;
};

ListViews OpenListViews(const char* listPath) {
  ListViews open{};
  const REGSAM views[] = {0, KEY_WOW64_32KEY};
  const int wanted = RegistryHasSeparate32BitView() ? 2 : 1;
  for (int i = 0; i < wanted; ++i) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, listPath, 0, KEY_ALL_ACCESS | views[i], &key) != ERROR_SUCCESS) {
      continue;
    }
    open.keys[open.count] = key;
    open.views[open.count] = views[i];
    ++open.count;
  }
  return open;
}

uint32_t WalkListViews(const ListViews& open, DevicePair* entries, uint32_t capacity) {
  uint32_t found = 0;
  for (int i = 0; i < open.count; ++i)
    found = WalkSupportedDevices(open.keys[i], open.views[i], entries, capacity, found);
  return found;
}

// Orders pairs by vendor, then device.
int ComparePairs(const void* left, const void* right) {
  const DevicePair& a = *static_cast<const DevicePair*>(left);
  const DevicePair& b = *static_cast<const DevicePair*>(right);
  if (a.vendorId != b.vendorId) return a.vendorId < b.vendorId ? -1 : 1;
  if (a.deviceId != b.deviceId) return a.deviceId < b.deviceId ? -1 : 1;
  return 0;
}

bool IsBuiltInDevice(uint32_t vendorId, uint32_t deviceId) {
  return vendorId == kBuiltInVendor &&
         std::any_of(std::begin(kBuiltInDevices), std::end(kBuiltInDevices),
                     [deviceId](uint32_t builtIn) { return builtIn == deviceId; });
}

}  // namespace

SupportedDeviceList ReadSupportedDeviceList(uint32_t* count) {
  char listPath[kTextCapacity];
  if (LoadStringA(GetModuleHandleA(nullptr), IDS_SUPPORTED_DEVICES_KEY, listPath,
                  static_cast<int>(kTextCapacity)) <= 0) {
    return nullptr;
  }
  const ListViews open = OpenListViews(listPath);
  DevicePair* entries = nullptr;
  const uint32_t total = WalkListViews(open, nullptr, 0);
  if (total != 0) entries = static_cast<DevicePair*>(std::calloc(total, sizeof(DevicePair)));
  // A list that grew since it was counted loses its surplus; one that shrank fills
  // fewer entries.
  if (entries != nullptr) *count = WalkListViews(open, entries, total);
  for (int i = 0; i < open.count; ++i) RegCloseKey(open.keys[i]);
  return entries;
}

void SortSupportedDeviceList(SupportedDeviceList list, uint32_t count) {
  if (list != nullptr) std::qsort(list, count, sizeof *list, ComparePairs);
}

bool IsSupportedDevice(uint32_t vendorId, uint32_t deviceId, const DevicePair* list, uint32_t count) {
  if (IsBuiltInDevice(vendorId, deviceId)) return true;
  const DevicePair wanted{vendorId, deviceId};
  return list != nullptr && count != 0 &&
         std::bsearch(&wanted, list, count, sizeof *list, ComparePairs) != nullptr;
}
