// Fuzzes a whole run of the installer on the simulated machine over a fuzzed
// supported-device list and fuzzed present devices. Every run must end with exit code
// 1 with no handle left open, and remove exactly the devices of the two classes whose
// identifiers the built-in table or the list supports, as a plain model of the list
// (read in the registry's order, within its name and data capacities) says.
//
// Input: byte 0 picks the mode; then records, each led by a byte:
//   0  a list subkey:   length byte, that many name bytes
//   1  a value in it:   two length bytes (name), name bytes, type byte, two length
//                       bytes (data, filled with one byte value)
//   2  a device:        class byte, description byte, length byte, identifier bytes
//                       (placed after "PCI\" in a three-level instance identifier)
//   3  a PCI device:    class byte, description byte, four bytes of identifiers
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/run_installer.h"
#include "platform/sim/machine.h"
#include "platform/sim/registry_tree.h"
#include "platform/sim/sim_control.h"

namespace {

const char* const kModes[] = {"", "/au", "/u", "/inf=x.inf"};
const char* const kClasses[] = {"{4D36E972-E325-11CE-BFC1-08002BE10318}",
                                "{4D36E97E-E325-11CE-BFC1-08002BE10318}",
                                "{4D36E968-E325-11CE-BFC1-08002BE10318}"};
constexpr const char* kListPath = "SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices";
const uint32_t kBuiltIn[] = {0x3A02, 0x3A07, 0x3A15, 0x4C21, 0x4C40, 0x4C41, 0x4C42, 0x4C43,
                             0x4C44, 0x4C45, 0x4C46, 0x4C47, 0x5B10, 0x6E03, 0x7D31};

std::string g_machine;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

struct Input {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  bool Empty() const { return at >= size; }
  uint8_t Byte() { return at < size ? data[at++] : 0; }
  size_t Word() { return static_cast<size_t>(Byte()) << 8 | Byte(); }
  std::string Text(size_t length) {
    std::string text;
    for (size_t i = 0; i < length && at < size; ++i) {
      const char c = static_cast<char>(data[at++]);
      // Names can hold neither a NUL nor a level separator.
      text += c == '\0' || c == '\\' ? '_' : c;
    }
    return text;
  }
};

// The digits of a four-character hexadecimal field, or false.
bool HexField(const std::string& text, size_t start, uint32_t* value) {
  if (start + 4 > text.size()) return false;
  uint32_t result = 0;
  for (size_t i = start; i < start + 4; ++i) {
    const char c = text[i];
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return false;
    result = result * 16 + static_cast<uint32_t>(digit);
  }
  *value = result;
  return true;
}

std::set<std::pair<uint32_t, uint32_t>> ModelOfTheList() {
  std::set<std::pair<uint32_t, uint32_t>> pairs;
  const auto list = sim::FindKeyPath(sim::TheMachine().localMachine, kListPath);
  if (list == nullptr) return pairs;
  for (const auto& vendor : list->subkeys) {
    if (vendor->name.size() >= 128) break;
    uint32_t vendorId = 0;
    if (!HexField(vendor->name, 0, &vendorId)) continue;
    for (const sim::RegValue& value : vendor->values) {
      if (value.name.size() >= 512 || value.data.size() > 512) break;
      uint32_t deviceId = 0;
      if (HexField(value.name, 0, &deviceId)) pairs.insert({vendorId, deviceId});
    }
  }
  return pairs;
}

bool Supported(const std::string& id, const std::set<std::pair<uint32_t, uint32_t>>& list) {
  uint32_t vendor = 0;
  uint32_t device = 0;
  if (!HexField(id, 8, &vendor)) vendor = 0;
  if (!HexField(id, 17, &device)) device = 0;
  if (vendor == 0x1E7C) {
    for (uint32_t builtIn : kBuiltIn) {
      if (device == builtIn) return true;
    }
  }
  return list.count({vendor, device}) != 0;
}

struct Device {
  std::string id;
  size_t classIndex;
  bool described;
};

std::string EnumPath(const std::string& id) {
  return std::string(sim::kEnumKeyPath) + "\\" + id;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // The runs touch the machine's files thousands of times a second: a memory file
  // system keeps up with that.
  char memory[] = "/dev/shm/qnetprep-fuzz-XXXXXX";
  char disk[] = "/tmp/qnetprep-fuzz-XXXXXX";
  if (::access("/dev/shm", W_OK) == 0 && ::mkdtemp(memory) != nullptr) {
    g_machine = memory;
  } else if (::mkdtemp(disk) != nullptr) {
    g_machine = disk;
  } else {
    std::abort();
  }
  std::filesystem::create_directories(g_machine + "/drive_c/pkg");
  setenv("ProgramFiles", "C:\\Program Files", 1);
  // The runs' error lines would drown the fuzzer's own report.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  std::atexit([] {
    std::error_code error;
    std::filesystem::remove_all(g_machine, error);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Nothing is ever saved, so every input starts from the same bare machine.
  sim::OpenMachine(g_machine, g_machine + "/drive_c/pkg");
  const auto root = sim::TheMachine().localMachine;
  Input input{data, size};
  const char* tail = kModes[input.Byte() % 4];

  std::shared_ptr<sim::RegKey> subkey;
  std::vector<Device> devices;
  while (!input.Empty()) {
    switch (input.Byte() % 4) {
      case 0: {
        const std::string name = input.Text(input.Byte());
        if (!name.empty()) subkey = sim::CreateKeyPath(root, std::string(kListPath) + "\\" + name);
        break;
      }
      case 1: {
        const std::string name = input.Text(input.Word() % 1024);
        const uint32_t type = input.Byte() % 8;
        const std::vector<uint8_t> bytes(input.Word() % 1024, input.Byte());
        if (subkey != nullptr) sim::SetValue(*subkey, name, type, bytes.data(), bytes.size());
        break;
      }
      case 2: {
        const size_t classIndex = input.Byte() % 3;
        const bool described = input.Byte() % 4 != 0;
        devices.push_back({"PCI\\" + input.Text(input.Byte()) + "\\1", classIndex, described});
        break;
      }
      case 3: {
        const size_t classIndex = input.Byte() % 3;
        const bool described = input.Byte() % 4 != 0;
        char id[80];
        const unsigned vendor = static_cast<unsigned>(input.Word());
        const unsigned device = static_cast<unsigned>(input.Word());
        std::snprintf(id, sizeof id, "PCI\\VEN_%04X&DEV_%04X&SUBSYS_00000000&REV_00\\%zu", vendor, device,
                      devices.size());
        devices.push_back({id, classIndex, described});
        break;
      }
    }
  }
  for (const Device& device : devices) {
    const auto key = sim::CreateKeyPath(root, EnumPath(device.id));
    sim::SetStringValue(*key, "ClassGUID", kClasses[device.classIndex]);
    if (device.described) sim::SetStringValue(*key, "DeviceDesc", "adapter");
  }
  // Identifiers that differ only in case name one device: the model reads the devices
  // back from the machine, as the device installer sees them.
  const std::set<std::pair<uint32_t, uint32_t>> list = ModelOfTheList();
  std::vector<std::pair<std::string, bool>> expected;  // instance identifier, removed
  const auto enumKey = sim::FindKeyPath(root, sim::kEnumKeyPath);
  for (const auto& enumerator : enumKey->subkeys) {
    for (const auto& device : enumerator->subkeys) {
      for (const auto& instance : device->subkeys) {
        const std::string id = enumerator->name + "\\" + device->name + "\\" + instance->name;
        const sim::RegValue* classValue = sim::FindValue(*instance, "ClassGUID");
        std::string classText;
        if (classValue != nullptr) classText.assign(classValue->data.begin(), classValue->data.end());
        classText = classText.substr(0, classText.find('\0'));
        const bool removable =
            (sim::NamesEqual(classText, kClasses[0]) || sim::NamesEqual(classText, kClasses[1])) &&
            sim::FindValue(*instance, "DeviceDesc") != nullptr && Supported(id, list);
        expected.emplace_back(id, removable);
      }
    }
  }
  const int setsBefore = sim::OpenDeviceSetCount();
  const int servicesBefore = sim::OpenServiceHandleCount();

  RunState state{};
  Require(RunInstaller(state, tail) == 1);
  Require(sim::OpenRegistryKeyCount() == 0);
  Require(sim::OpenDeviceSetCount() == setsBefore);
  Require(sim::OpenServiceHandleCount() == servicesBefore);
  for (const auto& [id, removed] : expected)
    Require((sim::FindKeyPath(root, EnumPath(id)) == nullptr) == removed);
  return 0;
}
