// The simulated device installer. A device is a key
// HKLM\SYSTEM\CurrentControlSet\Enum\<enumerator>\<device>\<instance> whose REG_SZ
// "ClassGUID" names its setup class; its instance identifier is the three key names
// joined by backslashes, and its description the optional REG_SZ "DeviceDesc". Every
// device in the tree counts as present.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/calls.h"
#include "platform/sim/handle_table.h"
#include "platform/sim/machine.h"

namespace sim {
namespace {

struct DeviceElement {
  std::string instanceId;
  bool removed = false;
};

struct DeviceSet {
  std::string classText;
  GUID classGuid;
  std::vector<DeviceElement> devices;
};

HandleTable<HDEVINFO, DeviceSet>& DeviceSets() {
  static HandleTable<HDEVINFO, DeviceSet> table(0x30000);
  return table;
}

std::string GuidText(const GUID& guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

// The text of a REG_SZ value up to its first NUL; empty when missing or of another type.
std::string StringValue(const RegKey& key, const char* name) {
  const RegValue* value = FindValue(key, name);
  if (value == nullptr || value->type != REG_SZ) return std::string();
  std::string text(value->data.begin(), value->data.end());
  return text.substr(0, text.find('\0'));
}

// The key of a device still in the tree; nullptr once it is removed.
std::shared_ptr<RegKey> InstanceKey(const DeviceElement& element) {
  if (element.removed) return nullptr;
  return FindKeyPath(TheMachine().localMachine, std::string(kEnumKeyPath) + "\\" + element.instanceId);
}

// The devices of the class in the order the registry enumerates them.
std::vector<DeviceElement> DevicesOfClass(const std::string& classText) {
  std::vector<DeviceElement> devices;
  const std::shared_ptr<RegKey> enumKey = FindKeyPath(TheMachine().localMachine, kEnumKeyPath);
  if (enumKey == nullptr) return devices;
  for (const auto& enumerator : enumKey->subkeys) {
    for (const auto& device : enumerator->subkeys) {
      for (const auto& instance : device->subkeys) {
        if (!NamesEqual(StringValue(*instance, "ClassGUID"), classText)) continue;
        devices.push_back({enumerator->name + "\\" + device->name + "\\" + instance->name});
      }
    }
  }
  return devices;
}

// The element that an SP_DEVINFO_DATA filled by SetupDiEnumDeviceInfo stands for.
DeviceElement* FindElement(DeviceSet& set, const SP_DEVINFO_DATA* data) {
  if (data == nullptr || data->Reserved == 0 || data->Reserved > set.devices.size()) return nullptr;
  return &set.devices[data->Reserved - 1];
}

// Checks the set and the record, and reports the failure the way SetupAPI does.
DeviceElement* ElementOrFail(HDEVINFO handle, const SP_DEVINFO_DATA* data) {
  DeviceSet* set = DeviceSets().Find(handle);
  if (set == nullptr) return FailWith<DeviceElement*>(ERROR_INVALID_HANDLE);
  if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA))
    return FailWith<DeviceElement*>(ERROR_INVALID_USER_BUFFER);
  DeviceElement* element = FindElement(*set, data);
  return element != nullptr ? element : FailWith<DeviceElement*>(ERROR_INVALID_PARAMETER);
}

std::string InstanceIdOf(HDEVINFO handle, const SP_DEVINFO_DATA* data) {
  DeviceSet* set = DeviceSets().Find(handle);
  const DeviceElement* element = set != nullptr ? FindElement(*set, data) : nullptr;
  return element == nullptr ? std::string() : element->instanceId;
}

// The default handler of a removal. The element stays in the set, so the devices after
// it keep their indices.
BOOL RemoveFromTree(HDEVINFO handle, PSP_DEVINFO_DATA data) {
  DeviceElement* element = ElementOrFail(handle, data);
  if (element == nullptr) return FALSE;
  const std::shared_ptr<RegKey> instance = InstanceKey(*element);
  if (instance == nullptr) return FailWith(ERROR_NO_SUCH_DEVINST);
  element->removed = true;
  // The device key goes with its last instance. Names are copied: deletion frees the keys.
  RegKey* device = instance->parent;
  DeleteSubkeyTree(*device, std::string(instance->name));
  if (device->subkeys.empty() && device->parent != nullptr) {
    DeleteSubkeyTree(*device->parent, std::string(device->name));
  }
  return TRUE;
}

}  // namespace

int OpenDeviceSetCount() {
  return DeviceSets().Count();
}

}  // namespace sim

using namespace sim;

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, PCSTR /*enumerator*/, HWND /*parent*/,
                                     DWORD /*flags*/) {
  const std::string classText = GuidText(*classGuid);
  SIM_CALL(SetupDiGetClassDevsA, classText);
  DeviceSet set{classText, *classGuid, DevicesOfClass(classText)};
  return DeviceSets().Add(std::move(set));
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO handle, DWORD index, PSP_DEVINFO_DATA data) {
  DeviceSet* set = DeviceSets().Find(handle);
  const bool inRange = set != nullptr && index < set->devices.size();
  SIM_CALL(SetupDiEnumDeviceInfo, inRange ? set->devices[index].instanceId : "");
  if (set == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) return FailWith(ERROR_INVALID_USER_BUFFER);
  if (!inRange) return FailWith(ERROR_NO_MORE_ITEMS);
  data->ClassGuid = set->classGuid;
  data->DevInst = index + 1;
  data->Reserved = index + 1;
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO handle, PSP_DEVINFO_DATA data, PSTR id, DWORD idSize,
                                        PDWORD requiredSize) {
  SIM_CALL(SetupDiGetDeviceInstanceIdA, InstanceIdOf(handle, data));
  const DeviceElement* element = ElementOrFail(handle, data);
  if (element == nullptr) return FALSE;
  const DWORD needed = static_cast<DWORD>(element->instanceId.size() + 1);
  if (requiredSize != nullptr) *requiredSize = needed;
  if (id == nullptr || idSize < needed) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(id, element->instanceId.c_str(), needed);
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD property,
                                              PDWORD propertyType, BYTE* buffer, DWORD bufferSize,
                                              PDWORD requiredSize) {
  SIM_CALL(SetupDiGetDeviceRegistryPropertyA, InstanceIdOf(handle, data));
  const DeviceElement* element = ElementOrFail(handle, data);
  if (element == nullptr) return FALSE;
  const std::shared_ptr<RegKey> instance = InstanceKey(*element);
  if (instance == nullptr) return FailWith(ERROR_NO_SUCH_DEVINST);
  // Only the description is kept; every other property reads as absent.
  const RegValue* value = property == SPDRP_DEVICEDESC ? FindValue(*instance, "DeviceDesc") : nullptr;
  if (value == nullptr) return FailWith(ERROR_INVALID_DATA);
  std::vector<uint8_t> text = value->data;
  if (text.empty() || text.back() != 0) text.push_back(0);
  const DWORD needed = static_cast<DWORD>(text.size());
  if (requiredSize != nullptr) *requiredSize = needed;
  if (propertyType != nullptr) *propertyType = REG_SZ;
  if (buffer == nullptr || bufferSize < needed) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, text.data(), needed);
  return TRUE;
}

// The parameters are taken as given: a removal is the default handler's, from every
// hardware profile, whatever they ask for, as profiles are not simulated.
BOOL WINAPI SetupDiSetClassInstallParamsA(HDEVINFO handle, PSP_DEVINFO_DATA data,
                                          PSP_CLASSINSTALL_HEADER /*params*/, DWORD /*paramsSize*/) {
  SIM_CALL(SetupDiSetClassInstallParamsA, InstanceIdOf(handle, data));
  return ElementOrFail(handle, data) != nullptr ? TRUE : FALSE;
}

// Runs the class installer for the function; the network class's own installer is not
// simulated (it has no bindings to take), so DIF_REMOVE is its default handler, the
// removal that SetupDiRemoveDevice makes. No other function is simulated.
BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION installFunction, HDEVINFO handle, PSP_DEVINFO_DATA data) {
  SIM_CALL(SetupDiCallClassInstaller, installFunction, InstanceIdOf(handle, data));
  if (installFunction != DIF_REMOVE) return FailWith(ERROR_INVALID_PARAMETER);
  return RemoveFromTree(handle, data);
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
  DeviceSet* set = DeviceSets().Find(handle);
  SIM_CALL(SetupDiDestroyDeviceInfoList, set != nullptr ? set->classText : "");
  return DeviceSets().Close(handle) ? TRUE : FailWith(ERROR_INVALID_HANDLE);
}
