#include "devices/remove_devices.h"

#include <cstdlib>
#include <cstring>

#include "devices/driver_service.h"
#include "devices/hex_field.h"
#include "devices/supported_devices.h"

namespace {

constexpr DWORD kDeviceTextCapacity = 4096;

// Where the vendor and device digits stand in an identifier of the form
// PCI\VEN_vvvv&DEV_dddd&...; nothing else of the identifier is compared.
constexpr size_t kVendorFieldStart = 8;
constexpr size_t kDeviceFieldStart = 17;
constexpr int kFieldDigits = 4;

// A field that starts at or past the end of this identifier is 0: the bytes there may
// be left from a longer identifier read before it.
uint32_t FieldAt(const char* id, size_t length, size_t start) {
  if (start >= length) return 0;
  return static_cast<uint32_t>(ParseHexField(id + start, kFieldDigits)) & 0xFFFF;
}

// Removes the supported devices of an open set and returns how many removals
// succeeded. Removed devices keep their element in the set, so the index simply
// goes on.
int32_t RemoveSupportedDevicesInSet(HDEVINFO set, const DevicePair* list, uint32_t listCount) {
  int32_t removed = 0;
  char instanceId[kDeviceTextCapacity];
  BYTE description[kDeviceTextCapacity];
  for (DWORD index = 0;; ++index) {
    SP_DEVINFO_DATA device;
    std::memset(&device, 0, sizeof device);
    device.cbSize = sizeof device;
    if (!SetupDiEnumDeviceInfo(set, index, &device)) break;
    if (!SetupDiGetDeviceInstanceIdA(set, &device, instanceId, kDeviceTextCapacity, nullptr)) continue;
    // Only whether it has one matters: a device without a description is left alone.
    DWORD descriptionType = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_DEVICEDESC, &descriptionType, description,
                                           kDeviceTextCapacity, nullptr)) {
      continue;
    }
    instanceId[kDeviceTextCapacity - 1] = '\0';
    const size_t length = std::strlen(instanceId);
    const uint32_t vendorId = FieldAt(instanceId, length, kVendorFieldStart);
    const uint32_t deviceId = FieldAt(instanceId, length, kDeviceFieldStart);
    if (!IsSupportedDeviceInSortedList(vendorId, deviceId, list, listCount)) continue;
    if (SetupDiRemoveDevice(set, &device) == 1) ++removed;
  }
  return removed;
}

}  // namespace

int32_t RemoveDevicesOfClass(RunState& state, const GUID& classGuid) {
  // An unavailable class skips the service step too: nothing of the class was seen.
  HDEVINFO set = SetupDiGetClassDevsA(&classGuid, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return 0;

  uint32_t listCount = 0;
  SupportedDeviceList list = ReadSupportedDeviceList(&listCount);
  SortSupportedDeviceList(list, listCount);
  const int32_t removed = RemoveSupportedDevicesInSet(set, list, listCount);
  SetupDiDestroyDeviceInfoList(set);
  std::free(list);

  DeleteDriverService(state.ServiceName);
  return removed;
}
