// The simulated device installer. A device is a key
// HKLM\SYSTEM\CurrentControlSet\Enum\<enumerator>\<device>\<instance> whose REG_SZ
// "ClassGUID" names its setup class; its instance identifier is the three key names
// joined by backslashes, and its description the optional REG_SZ "DeviceDesc". Every
// device in the tree counts as present. A device that SetupDiCreateDeviceInfoA adds
// to a set exists only in that set until SetupDiRegisterDeviceInfo puts it in the tree.
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/calls.h"
#include "platform/sim/machine.h"

namespace sim {
namespace {

struct DeviceElement {
  std::string instanceId;
  bool removed = false;
  // A created element not yet registered, with the description set on it so far.
  bool registered = true;
  bool hasDescription = false;
  std::vector<uint8_t> description;
  GUID classGuid{};
};

struct DeviceSet {
  std::string classText;
  GUID classGuid;
  std::vector<DeviceElement> devices;
};

std::map<HDEVINFO, std::unique_ptr<DeviceSet>>& DeviceSets() {
  static std::map<HDEVINFO, std::unique_ptr<DeviceSet>> sets;
  return sets;
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

std::shared_ptr<RegKey> EnumKey() {
  return FindKeyPath(TheMachine().localMachine, kEnumKeyPath);
}

std::shared_ptr<RegKey> InstanceKey(const std::string& instanceId) {
  const std::shared_ptr<RegKey> enumKey = EnumKey();
  return enumKey == nullptr ? nullptr : FindKeyPath(enumKey, instanceId);
}

// The devices of the class in the order the registry enumerates them.
std::vector<DeviceElement> DevicesOfClass(const std::string& classText) {
  std::vector<DeviceElement> devices;
  const std::shared_ptr<RegKey> enumKey = EnumKey();
  if (enumKey == nullptr) return devices;
  for (const auto& enumerator : enumKey->subkeys) {
    for (const auto& device : enumerator->subkeys) {
      for (const auto& instance : device->subkeys) {
        if (!NamesEqual(StringValue(*instance, "ClassGUID"), classText)) continue;
        DeviceElement element;
        element.instanceId = enumerator->name + "\\" + device->name + "\\" + instance->name;
        devices.push_back(element);
      }
    }
  }
  return devices;
}

DeviceSet* FindSet(HDEVINFO handle) {
  auto found = DeviceSets().find(handle);
  return found == DeviceSets().end() ? nullptr : found->second.get();
}

// The element that an SP_DEVINFO_DATA filled by SetupDiEnumDeviceInfo stands for.
DeviceElement* FindElement(DeviceSet& set, const SP_DEVINFO_DATA* data) {
  if (data == nullptr || data->Reserved == 0 || data->Reserved > set.devices.size()) return nullptr;
  return &set.devices[data->Reserved - 1];
}

// Checks the set and the record, and reports the failure the way SetupAPI does.
DeviceElement* ElementOrFail(HDEVINFO handle, const SP_DEVINFO_DATA* data) {
  DeviceSet* set = FindSet(handle);
  if (set == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return nullptr;
  }
  DeviceElement* element = FindElement(*set, data);
  if (element == nullptr) SetLastError(ERROR_INVALID_PARAMETER);
  return element;
}

void FillRecord(const DeviceElement& element, size_t index, SP_DEVINFO_DATA* data) {
  data->ClassGuid = element.classGuid;
  data->DevInst = static_cast<DWORD>(index + 1);
  data->Reserved = index + 1;
}

// enumerator\device\instance, each part present, with none of the characters that
// Windows refuses in an identifier (blanks, control characters and commas).
bool IsInstanceId(const std::string& id) {
  size_t separators = 0;
  char previous = '\\';
  for (char c : id) {
    if (static_cast<unsigned char>(c) <= ' ' || c == ',') return false;
    if (c == '\\') {
      if (previous == '\\') return false;
      ++separators;
    }
    previous = c;
  }
  return separators == 2 && previous != '\\';
}

std::string InstanceIdOf(HDEVINFO handle, const SP_DEVINFO_DATA* data) {
  DeviceSet* set = FindSet(handle);
  if (set == nullptr) return std::string();
  const DeviceElement* element = FindElement(*set, data);
  return element == nullptr ? std::string() : element->instanceId;
}

// The default handler of a removal. The element stays in the set, so the devices after
// it keep their indices.
BOOL RemoveFromTree(HDEVINFO handle, PSP_DEVINFO_DATA data) {
  DeviceElement* element = ElementOrFail(handle, data);
  if (element == nullptr) return FALSE;
  const std::shared_ptr<RegKey> instance =
      element->removed || !element->registered ? nullptr : InstanceKey(element->instanceId);
  if (instance == nullptr) {
    SetLastError(ERROR_NO_SUCH_DEVINST);
    return FALSE;
  }
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
  return static_cast<int>(DeviceSets().size());
}

}  // namespace sim

using namespace sim;

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, PCSTR /*enumerator*/, HWND /*parent*/,
                                     DWORD /*flags*/) {
  const std::string classText = classGuid != nullptr ? GuidText(*classGuid) : std::string();
  if (const Fault* fault = EnterCall("SetupDiGetClassDevsA", classText)) {
    SetLastError(FaultError(*fault, ERROR_INVALID_CLASS));
    return INVALID_HANDLE_VALUE;
  }
  if (classGuid == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto set = std::make_unique<DeviceSet>();
  set->classText = classText;
  set->classGuid = *classGuid;
  set->devices = DevicesOfClass(classText);
  for (DeviceElement& element : set->devices) element.classGuid = *classGuid;
  const HDEVINFO handle = set.get();
  DeviceSets()[handle] = std::move(set);
  return handle;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO handle, DWORD index, PSP_DEVINFO_DATA data) {
  DeviceSet* set = FindSet(handle);
  const bool inRange = set != nullptr && index < set->devices.size();
  if (const Fault* fault =
          EnterCall("SetupDiEnumDeviceInfo", inRange ? set->devices[index].instanceId : "")) {
    SetLastError(FaultError(*fault, ERROR_NO_MORE_ITEMS));
    return FALSE;
  }
  if (set == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (!inRange) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  FillRecord(set->devices[index], index, data);
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO handle, PSP_DEVINFO_DATA data, PSTR id, DWORD idSize,
                                        PDWORD requiredSize) {
  if (const Fault* fault = EnterCall("SetupDiGetDeviceInstanceIdA", InstanceIdOf(handle, data))) {
    SetLastError(FaultError(*fault, ERROR_INVALID_PARAMETER));
    return FALSE;
  }
  const DeviceElement* element = ElementOrFail(handle, data);
  if (element == nullptr) return FALSE;
  const DWORD needed = static_cast<DWORD>(element->instanceId.size() + 1);
  if (requiredSize != nullptr) *requiredSize = needed;
  if (id == nullptr || idSize < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(id, element->instanceId.c_str(), needed);
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD property,
                                              PDWORD propertyType, BYTE* buffer, DWORD bufferSize,
                                              PDWORD requiredSize) {
  if (const Fault* fault = EnterCall("SetupDiGetDeviceRegistryPropertyA", InstanceIdOf(handle, data))) {
    SetLastError(FaultError(*fault, ERROR_INVALID_DATA));
    return FALSE;
  }
  const DeviceElement* element = ElementOrFail(handle, data);
  if (element == nullptr) return FALSE;
  std::vector<uint8_t> text;
  if (!element->registered) {
    if (property != SPDRP_DEVICEDESC || !element->hasDescription) {
      SetLastError(ERROR_INVALID_DATA);
      return FALSE;
    }
    text = element->description;
  } else {
    const std::shared_ptr<RegKey> instance = element->removed ? nullptr : InstanceKey(element->instanceId);
    if (instance == nullptr) {
      SetLastError(ERROR_NO_SUCH_DEVINST);
      return FALSE;
    }
    // Only the description is kept; every other property reads as absent.
    const RegValue* value = property == SPDRP_DEVICEDESC ? FindValue(*instance, "DeviceDesc") : nullptr;
    if (value == nullptr) {
      SetLastError(ERROR_INVALID_DATA);
      return FALSE;
    }
    text = value->data;
  }
  if (text.empty() || text.back() != 0) text.push_back(0);
  const DWORD needed = static_cast<DWORD>(text.size());
  if (requiredSize != nullptr) *requiredSize = needed;
  if (propertyType != nullptr) *propertyType = REG_SZ;
  if (buffer == nullptr || bufferSize < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, text.data(), needed);
  return TRUE;
}

BOOL WINAPI SetupDiRemoveDevice(HDEVINFO handle, PSP_DEVINFO_DATA data) {
  if (const Fault* fault = EnterCall("SetupDiRemoveDevice", InstanceIdOf(handle, data))) {
    if (fault->useResult) return static_cast<BOOL>(fault->result);
    SetLastError(FaultError(*fault, ERROR_ACCESS_DENIED));
    return FALSE;
  }
  return RemoveFromTree(handle, data);
}

// Only the parameters of a removal from every hardware profile are taken: profiles are
// not simulated, and such a removal is what the default handler makes anyway.
BOOL WINAPI SetupDiSetClassInstallParamsA(HDEVINFO handle, PSP_DEVINFO_DATA data,
                                          PSP_CLASSINSTALL_HEADER params, DWORD paramsSize) {
  if (const Fault* fault = EnterCall("SetupDiSetClassInstallParamsA", InstanceIdOf(handle, data))) {
    SetLastError(FaultError(*fault, ERROR_INVALID_PARAMETER));
    return FALSE;
  }
  if (ElementOrFail(handle, data) == nullptr) return FALSE;
  if (params == nullptr || params->cbSize != sizeof(SP_CLASSINSTALL_HEADER) ||
      params->InstallFunction != DIF_REMOVE || paramsSize != sizeof(SP_REMOVEDEVICE_PARAMS) ||
      reinterpret_cast<const SP_REMOVEDEVICE_PARAMS*>(params)->Scope != DI_REMOVEDEVICE_GLOBAL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

// Runs the class installer for the function; the network class's own installer is not
// simulated (it has no bindings to take), so DIF_REMOVE is its default handler, the
// removal that SetupDiRemoveDevice makes. No other function is simulated.
BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION installFunction, HDEVINFO handle, PSP_DEVINFO_DATA data) {
  char function[16];
  (void)std::snprintf(function, sizeof function, "0x%x ", installFunction);
  if (const Fault* fault = EnterCall("SetupDiCallClassInstaller", function + InstanceIdOf(handle, data))) {
    if (fault->useResult) return static_cast<BOOL>(fault->result);
    SetLastError(FaultError(*fault, ERROR_ACCESS_DENIED));
    return FALSE;
  }
  if (installFunction != DIF_REMOVE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return RemoveFromTree(handle, data);
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
  DeviceSet* set = FindSet(handle);
  if (const Fault* fault = EnterCall("SetupDiDestroyDeviceInfoList", set != nullptr ? set->classText : "")) {
    SetLastError(FaultError(*fault, ERROR_INVALID_HANDLE));
    return FALSE;
  }
  if (set == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DeviceSets().erase(handle);
  return TRUE;
}

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* classGuid, HWND /*parent*/) {
  const std::string classText = classGuid != nullptr ? GuidText(*classGuid) : std::string();
  if (const Fault* fault = EnterCall("SetupDiCreateDeviceInfoList", classText)) {
    SetLastError(FaultError(*fault, ERROR_NOT_ENOUGH_MEMORY));
    return INVALID_HANDLE_VALUE;
  }
  auto set = std::make_unique<DeviceSet>();
  set->classText = classText;
  set->classGuid = classGuid != nullptr ? *classGuid : GUID{};
  const HDEVINFO handle = set.get();
  DeviceSets()[handle] = std::move(set);
  return handle;
}

// Only a full instance identifier is taken (flags 0); the tools that seed machines
// never ask for a generated one.
BOOL WINAPI SetupDiCreateDeviceInfoA(HDEVINFO handle, PCSTR deviceName, const GUID* classGuid,
                                     PCSTR description, HWND /*parent*/, DWORD creationFlags,
                                     PSP_DEVINFO_DATA data) {
  const std::string id = deviceName != nullptr ? deviceName : "";
  if (const Fault* fault = EnterCall("SetupDiCreateDeviceInfoA", id)) {
    SetLastError(FaultError(*fault, ERROR_DEVINST_ALREADY_EXISTS));
    return FALSE;
  }
  DeviceSet* set = FindSet(handle);
  if (set == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (creationFlags != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return FALSE;
  }
  if (classGuid == nullptr || (data != nullptr && data->cbSize != sizeof(SP_DEVINFO_DATA))) {
    SetLastError(classGuid == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (!set->classText.empty() && !NamesEqual(set->classText, GuidText(*classGuid))) {
    SetLastError(ERROR_CLASS_MISMATCH);
    return FALSE;
  }
  if (!IsInstanceId(id)) {
    SetLastError(ERROR_INVALID_DEVINST_NAME);
    return FALSE;
  }
  bool inSet = false;
  for (const DeviceElement& element : set->devices) inSet = inSet || NamesEqual(element.instanceId, id);
  if (inSet || InstanceKey(id) != nullptr) {
    SetLastError(ERROR_DEVINST_ALREADY_EXISTS);
    return FALSE;
  }
  DeviceElement element;
  element.instanceId = id;
  element.registered = false;
  element.classGuid = *classGuid;
  if (description != nullptr) {
    element.hasDescription = true;
    element.description.assign(description, description + std::strlen(description) + 1);
  }
  set->devices.push_back(element);
  if (data != nullptr) FillRecord(set->devices.back(), set->devices.size() - 1, data);
  return TRUE;
}

// Only the description can be set; it is stored as given, like any registry value.
BOOL WINAPI SetupDiSetDeviceRegistryPropertyA(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD property,
                                              const BYTE* buffer, DWORD bufferSize) {
  if (const Fault* fault = EnterCall("SetupDiSetDeviceRegistryPropertyA", InstanceIdOf(handle, data))) {
    SetLastError(FaultError(*fault, ERROR_ACCESS_DENIED));
    return FALSE;
  }
  DeviceElement* element = ElementOrFail(handle, data);
  if (element == nullptr) return FALSE;
  if (property != SPDRP_DEVICEDESC) {
    SetLastError(ERROR_INVALID_REG_PROPERTY);
    return FALSE;
  }
  if (buffer == nullptr && bufferSize != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!element->registered) {
    element->hasDescription = true;
    element->description.assign(buffer, buffer + bufferSize);
    return TRUE;
  }
  const std::shared_ptr<RegKey> instance = element->removed ? nullptr : InstanceKey(element->instanceId);
  if (instance == nullptr) {
    SetLastError(ERROR_NO_SUCH_DEVINST);
    return FALSE;
  }
  SetValue(*instance, "DeviceDesc", REG_SZ, buffer, bufferSize);
  return TRUE;
}

// Puts a created device into the tree, where every set of its class finds it present.
BOOL WINAPI SetupDiRegisterDeviceInfo(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD /*flags*/,
                                      PSP_DETSIG_CMPPROC /*compare*/, LPVOID /*compareContext*/,
                                      PSP_DEVINFO_DATA /*duplicate*/) {
  if (const Fault* fault = EnterCall("SetupDiRegisterDeviceInfo", InstanceIdOf(handle, data))) {
    SetLastError(FaultError(*fault, ERROR_ACCESS_DENIED));
    return FALSE;
  }
  DeviceElement* element = ElementOrFail(handle, data);
  if (element == nullptr) return FALSE;
  if (element->registered) return TRUE;
  if (InstanceKey(element->instanceId) != nullptr) {
    SetLastError(ERROR_DEVINST_ALREADY_EXISTS);
    return FALSE;
  }
  const std::shared_ptr<RegKey> instance =
      CreateKeyPath(TheMachine().localMachine, std::string(kEnumKeyPath) + "\\" + element->instanceId);
  SetStringValue(*instance, "ClassGUID", GuidText(element->classGuid));
  if (element->hasDescription) {
    SetValue(*instance, "DeviceDesc", REG_SZ, element->description.data(), element->description.size());
  }
  element->registered = true;
  return TRUE;
}
