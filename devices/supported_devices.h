// Which devices the driver supports: a built-in table of one vendor's devices, and
// the supported-device list that other products keep in the registry.
#pragma once

#include <cstdint>

// One PCI vendor and device identifier, each a 16-bit value.
struct DevicePair {
  uint32_t vendorId;
  uint32_t deviceId;
};

// A heap array of pairs, allocated with std::calloc by ReadSupportedDeviceList; the
// caller releases it with std::free when its pass ends. nullptr means "no list": the
// registry adds nothing.
using SupportedDeviceList = DevicePair*;

// Reads the list below HKEY_LOCAL_MACHINE at the path of IDS_SUPPORTED_DEVICES_KEY, in
// the process's own registry view and, on 64-bit Windows, in the 32-bit view as well:
// each subkey names a vendor, each of its values a device, by the first four
// hexadecimal digits of the name. A name that does not start with four hexadecimal
// digits adds nothing. Returns nullptr, leaving `count` untouched, when the list is
// missing, empty or cannot be allocated; otherwise sets `count` to the entries filled.
SupportedDeviceList ReadSupportedDeviceList(uint32_t* count);

// Orders a list for IsSupportedDevice; a list of no entries, or none, is fine.
void SortSupportedDeviceList(SupportedDeviceList list, uint32_t count);

// True for the built-in devices, and for any pair among the first `count` entries of `list`
// (which may be nullptr), a list ordered by SortSupportedDeviceList: the lookup takes
// logarithmic time, so that a removal pass costs devices plus entries, not their product.
bool IsSupportedDevice(uint32_t vendorId, uint32_t deviceId, const DevicePair* list, uint32_t count);
