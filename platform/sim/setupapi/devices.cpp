// The simulated device installer. A device is a key
// HKLM\SYSTEM\CurrentControlSet\Enum\<enumerator>\<device>\<instance> whose REG_SZ
// "ClassGUID" names its setup class; its instance identifier is the three key names
// joined by backslashes, and its description the optional REG_SZ "DeviceDesc". Every
// device in the tree counts as present.
//
// The installer hands these calls only the set that SetupDiGetClassDevsA opened and records
// that SetupDiEnumDeviceInfo filled, with the buffers it owns, so they are taken as given.
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

struct DeviceSet {
  std::string classText;
  GUID classGuid;
  std::vector<std::string> instanceIds;
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

// Whether the instance's "ClassGUID", up to its first NUL, names the class.
bool IsOfClass(const RegKey& instance, const std::string& classText) {
  for (const RegValue& value : instance.values) {
    const std::string text(value.data.begin(), value.data.end());
    if (NamesEqual(value.name, "ClassGUID") && NamesEqual(text.c_str(), classText)) return true;
  }
  return false;
}

// The devices of the class in the order the registry enumerates them. Every machine has
// the Enum key, and the installer deletes devices below it, never the key.
std::vector<std::string> DevicesOfClass(const std::string& classText) {
  std::vector<std::string> devices;
  for (const auto& enumerator : FindKeyPath(TheMachine().localMachine, kEnumKeyPath)->subkeys) {
    for (const auto& device : enumerator->subkeys) {
      for (const auto& instance : device->subkeys) {
        if (IsOfClass(*instance, classText))
          devices.push_back(enumerator->name + "\\" + device->name + "\\" + instance->name);
      }
    }
  }
  return devices;
}

// The instance identifier of the record that SetupDiEnumDeviceInfo filled.
const std::string& InstanceIdOf(HDEVINFO handle, const SP_DEVINFO_DATA* data) {
  return DeviceSets().Find(handle)->instanceIds[data->Reserved - 1];
}

// The key of a listed device; nullptr, failing the call, once the device is gone from the
// tree, removed by an earlier call or by another program since the set was made.
std::shared_ptr<RegKey> InstanceKeyOrFail(HDEVINFO handle, const SP_DEVINFO_DATA* data) {
  std::shared_ptr<RegKey> instance =
      FindKeyPath(TheMachine().localMachine, std::string(kEnumKeyPath) + "\\" + InstanceIdOf(handle, data));
  if (instance == nullptr) FailWith(ERROR_NO_SUCH_DEVINST);
  return instance;
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
  return DeviceSets().Add(DeviceSet{classText, *classGuid, DevicesOfClass(classText)});
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO handle, DWORD index, PSP_DEVINFO_DATA data) {
  const DeviceSet& set = *DeviceSets().Find(handle);
  const bool inRange = index < set.instanceIds.size();
  SIM_CALL(SetupDiEnumDeviceInfo, inRange ? set.instanceIds[index].c_str() : "");
  if (!inRange) return FailWith(ERROR_NO_MORE_ITEMS);
  data->ClassGuid = set.classGuid;
  data->DevInst = index + 1;
  data->Reserved = index + 1;
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO handle, PSP_DEVINFO_DATA data, PSTR id, DWORD idSize,
                                        PDWORD /*requiredSize*/) {
  const std::string& instanceId = InstanceIdOf(handle, data);
  SIM_CALL(SetupDiGetDeviceInstanceIdA, instanceId);
  const DWORD needed = static_cast<DWORD>(instanceId.size() + 1);
  if (idSize < needed) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(id, instanceId.c_str(), needed);
  return TRUE;
}

// Only the description is kept, and the installer asks only for it; the text is handed over
// as the registry holds it.
BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD /*property*/,
                                              PDWORD /*propertyType*/, BYTE* buffer, DWORD bufferSize,
                                              PDWORD /*requiredSize*/) {
  SIM_CALL(SetupDiGetDeviceRegistryPropertyA, InstanceIdOf(handle, data));
  const std::shared_ptr<RegKey> instance = InstanceKeyOrFail(handle, data);
  if (instance == nullptr) return FALSE;
  const RegValue* value = FindValue(*instance, "DeviceDesc");
  if (value == nullptr) return FailWith(ERROR_INVALID_DATA);
  const DWORD needed = static_cast<DWORD>(value->data.size());
  if (bufferSize < needed) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, value->data.data(), needed);
  return TRUE;
}

// The parameters are taken as given: a removal is the default handler's, from every
// hardware profile, whatever they ask for, as profiles are not simulated.
BOOL WINAPI SetupDiSetClassInstallParamsA(HDEVINFO handle, PSP_DEVINFO_DATA data,
                                          PSP_CLASSINSTALL_HEADER /*params*/, DWORD /*paramsSize*/) {
  SIM_CALL(SetupDiSetClassInstallParamsA, InstanceIdOf(handle, data));
  return TRUE;
}

// Runs the class installer for the removal, the one function the installer asks for; the
// network class's own installer is not simulated (it has no bindings to take), so it is
// the default handler, the removal that SetupDiRemoveDevice makes. The element stays in
// the set, so the devices after it keep their indices.
BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION installFunction, HDEVINFO handle, PSP_DEVINFO_DATA data) {
  SIM_CALL(SetupDiCallClassInstaller, installFunction, InstanceIdOf(handle, data));
  const std::shared_ptr<RegKey> instance = InstanceKeyOrFail(handle, data);
  if (instance == nullptr) return FALSE;
  // The device key goes with its last instance. Names are copied: deletion frees the keys.
  RegKey* device = instance->parent;
  DeleteSubkeyTree(*device, std::string(instance->name));
  if (device->subkeys.empty()) DeleteSubkeyTree(*device->parent, std::string(device->name));
  return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
  SIM_CALL(SetupDiDestroyDeviceInfoList, DeviceSets().Find(handle)->classText);
  DeviceSets().Close(handle);
  return TRUE;
}
