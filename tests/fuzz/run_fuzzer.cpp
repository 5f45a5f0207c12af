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

#include <algorithm>
#include <cctype>
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
const long kBuiltIn[] = {0x3A02, 0x3A07, 0x3A15, 0x4C21, 0x4C40, 0x4C41, 0x4C42, 0x4C43,
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

// The value of a four-digit hexadecimal field, or -1.
long HexField(const std::string& text, size_t start) {
  if (start + 4 > text.size()) return -1;
  for (size_t i = start; i < start + 4; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return -1;
  return std::stol(text.substr(start, 4), nullptr, 16);
}

// The vendor and device pairs that the list supports, read as the installer reads it.
std::set<std::pair<long, long>> ModelOfTheList() {
  std::set<std::pair<long, long>> pairs;
  const auto list = sim::FindKeyPath(sim::TheMachine().localMachine, kListPath);
  for (size_t v = 0; list != nullptr && v < list->subkeys.size() && list->subkeys[v]->name.size() < 128;
       ++v) {
    const long vendor = HexField(list->subkeys[v]->name, 0);
    for (const sim::RegValue& value : list->subkeys[v]->values) {
      if (value.name.size() >= 512 || value.data.size() > 512) break;
      if (vendor >= 0 && HexField(value.name, 0) >= 0) pairs.insert({vendor, HexField(value.name, 0)});
    }
  }
  return pairs;
}

// A field that is not hexadecimal counts as 0.
bool Supported(const std::string& id, const std::set<std::pair<long, long>>& list) {
  const long vendor = std::max(HexField(id, 8), 0L);
  const long device = std::max(HexField(id, 17), 0L);
  return (vendor == 0x1E7C && std::count(std::begin(kBuiltIn), std::end(kBuiltIn), device) != 0) ||
         list.count({vendor, device}) != 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // The runs touch the machine's files thousands of times a second: a memory file
  // system keeps up with that.
  g_machine = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/qnetprep-fuzz-XXXXXX" : "/tmp/qnetprep-fuzz-XXXXXX";
  if (::mkdtemp(g_machine.data()) == nullptr) std::abort();
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
  for (int devices = 0; !input.Empty();) {
    const uint8_t record = input.Byte() % 4;
    if (record == 0) {
      const std::string name = input.Text(input.Byte());
      if (!name.empty()) subkey = sim::CreateKeyPath(root, std::string(kListPath) + "\\" + name);
    } else if (record == 1) {
      const std::string name = input.Text(input.Word() % 1024);
      const uint32_t type = input.Byte() % 8;
      const std::vector<uint8_t> bytes(input.Word() % 1024, input.Byte());
      if (subkey != nullptr) sim::SetValue(*subkey, name, type, bytes.data(), bytes.size());
    } else {
      const char* classGuid = kClasses[input.Byte() % 3];
      const bool described = input.Byte() % 4 != 0;
      char id[80];
      if (record == 3) {
        const unsigned vendor = static_cast<unsigned>(input.Word());
        std::snprintf(id, sizeof id, "VEN_%04X&DEV_%04X&SUBSYS_00000000&REV_00\\%d", vendor,
                      static_cast<unsigned>(input.Word()), devices++);
      }
      const auto key = sim::CreateKeyPath(root, std::string(sim::kEnumKeyPath) + "\\PCI\\" +
                                                    (record == 3 ? id : input.Text(input.Byte()) + "\\1"));
      sim::SetStringValue(*key, "ClassGUID", classGuid);
      if (described) sim::SetStringValue(*key, "DeviceDesc", "adapter");
    }
  }
  // Identifiers that differ only in case name one device: the model reads the devices
  // back from the machine, as the device installer sees them.
  const std::set<std::pair<long, long>> list = ModelOfTheList();
  std::vector<std::pair<std::string, bool>> expected;  // instance identifier, removed
  for (const auto& enumerator : sim::FindKeyPath(root, sim::kEnumKeyPath)->subkeys) {
    for (const auto& device : enumerator->subkeys) {
      for (const auto& instance : device->subkeys) {
        const std::string id = enumerator->name + "\\" + device->name + "\\" + instance->name;
        const sim::RegValue* classValue = sim::FindValue(*instance, "ClassGUID");
        std::string classText;
        if (classValue != nullptr) classText.assign(classValue->data.begin(), classValue->data.end());
        classText = classText.substr(0, classText.find('\0'));
        expected.emplace_back(
            id, (sim::NamesEqual(classText, kClasses[0]) || sim::NamesEqual(classText, kClasses[1])) &&
                    sim::FindValue(*instance, "DeviceDesc") != nullptr && Supported(id, list));
      }
    }
  }
  const int setsBefore = sim::OpenDeviceSetCount();
  const int servicesBefore = sim::OpenServiceHandleCount();
  RunState state{};
  Require(RunInstaller(state, tail) == 1);
  Require(sim::OpenRegistryKeyCount() == 0 && sim::OpenDeviceSetCount() == setsBefore &&
          sim::OpenServiceHandleCount() == servicesBefore);
  for (const auto& [id, removed] : expected)
    Require((sim::FindKeyPath(root, std::string(sim::kEnumKeyPath) + "\\" + id) == nullptr) == removed);
  return 0;
}
