#include "devices/remove_devices.h"

#include <cstdlib>
#include <cstring>

#include "devices/driver_service.h"
#include "devices/hex_field.h"
#include "devices/supported_devices.h"
#include "platform/text.h"

namespace {

constexpr DWORD kDeviceTextCapacity = 4096;

// Where the vendor and device digits stand in an identifier of the form
// PCI\VEN_vvvv&DEV_dddd&..., and the text before each.
constexpr const char kPciVendorLabel[] = "PCI\\VEN_";
constexpr const char kPciDeviceLabel[] = "&DEV_";
constexpr size_t kVendorFieldStart = 8;
constexpr size_t kDeviceLabelStart = 12;
constexpr size_t kDeviceFieldStart = 17;
constexpr int kFieldDigits = 4;

// The adapters are PCI devices. Another bus keeps its own numbers at those places (a USB
// vendor and product), and a root-enumerated device none at all: read as PCI fields they
// would name devices that are not ours, down to vendor 0 and device 0.
bool IsPciInstanceId(const char* id, size_t length) {
  return length >= kDeviceFieldStart && TextStartsWithIgnoringAsciiCase(id, kPciVendorLabel) &&
         TextStartsWithIgnoringAsciiCase(id + kDeviceLabelStart, kPciDeviceLabel);
}

// A PCI identifier is at least as long as the device field's start, so a field never
// starts past the NUL (beyond it the bytes may be left from a longer identifier read
// before it); one that runs into the NUL is 0.
uint32_t FieldAt(const char* id, size_t start) {
  return static_cast<uint32_t>(ParseHexField(id + start, kFieldDigits)) & 0xFFFF;
}

// Removes a device the way every program but a class installer must: through the class
// installer, which for a network adapter also takes its bindings and protocol settings
// out of the system, and then the default handler. The parameters ask for a removal
// from every hardware profile; their result is not read (Wine refuses them and removes
// the device all the same).
bool RemoveThroughClassInstaller(HDEVINFO set, SP_DEVINFO_DATA& device) {
  SP_REMOVEDEVICE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof params.ClassInstallHeader;
  params.ClassInstallHeader.InstallFunction = DIF_REMOVE;
  params.Scope = DI_REMOVEDEVICE_GLOBAL;
  SetupDiSetClassInstallParamsA(set, &device, &params.ClassInstallHeader, sizeof params);
  return SetupDiCallClassInstaller(DIF_REMOVE, set, &device) != FALSE;
}

// Removes the supported devices of an open set and returns how many removals
// succeeded. Removed devices keep their element in the set, so the index simply
// goes on.
int32_t RemoveSupportedDevicesInSet(HDEVINFO set, const DevicePair* list, uint32_t listCount) {
  int32_t removed = 0;
  char instanceId[kDeviceTextCapacity];
  BYTE description[kDeviceTextCapacity];
  for (DWORD index = 0;; ++index) {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!SetupDiEnumDeviceInfo(set, index, &device)) break;
    if (!SetupDiGetDeviceInstanceIdA(set, &device, instanceId, kDeviceTextCapacity, nullptr)) continue;
    // Only whether it has one matters: a device without a description is left alone.
    if (!SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_DEVICEDESC, nullptr, description,
                                           kDeviceTextCapacity, nullptr)) {
      continue;
    }
    const size_t length = strnlen(instanceId, kDeviceTextCapacity);
    if (!IsPciInstanceId(instanceId, length)) continue;
    const uint32_t vendorId = FieldAt(instanceId, kVendorFieldStart);
    const uint32_t deviceId = FieldAt(instanceId, kDeviceFieldStart);
    if (!IsSupportedDevice(vendorId, deviceId, list, listCount)) continue;
    if (RemoveThroughClassInstaller(set, device)) ++removed;
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
