// Fuzzes whole runs over a fuzzed supported-device list and fuzzed present devices: every
// run ends with exit code 1, no handle open, and exactly the described devices of the two
// classes removed whose identifiers the built-in table or the list supports.
// Input: byte 0 picks the mode; then records of six bytes: a kind byte (even: a list
// entry, odd: a device), a byte of details, then vendor and device, two bytes each.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/run_installer.h"
#include "platform/sim/machine.h"
#include "platform/sim/registry_tree.h"
#include "platform/sim/sim_control.h"

namespace {

const char* const kClasses[] = {"{4D36E972-E325-11CE-BFC1-08002BE10318}",
                                "{4D36E97E-E325-11CE-BFC1-08002BE10318}",
                                "{4D36E968-E325-11CE-BFC1-08002BE10318}"};
const std::set<unsigned> kBuiltIn = {0x3A02, 0x3A07, 0x3A15, 0x4C21, 0x4C40, 0x4C41, 0x4C42, 0x4C43,
                                     0x4C44, 0x4C45, 0x4C46, 0x4C47, 0x5B10, 0x6E03, 0x7D31};
std::string g_machine;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  g_machine = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/qnetprep-fuzz-XXXXXX" : "/tmp/qnetprep-fuzz-XXXXXX";
  if (::mkdtemp(g_machine.data()) == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr)
    std::abort();
  std::filesystem::create_directories(g_machine + "/drive_c/pkg");
  std::atexit([] { std::filesystem::remove_all(g_machine); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Nothing is ever saved: every input starts from the same bare machine.
  sim::OpenMachine(g_machine, g_machine + "/drive_c/pkg");
  const auto root = sim::TheMachine().localMachine;
  const char* const modes[] = {"", "/au", "/u", "/inf=x.inf"};
  std::set<std::pair<unsigned, unsigned>> list;
  std::vector<std::pair<std::string, bool>> devices;  // instance identifier, to be removed
  for (size_t at = 1; at + 6 <= size; at += 6) {
    const unsigned vendor = data[at + 2] << 8 | data[at + 3], device = data[at + 4] << 8 | data[at + 5];
    char name[80];
    if (data[at] % 2 == 0) {
      // Names of either case, and names that do not start with four digits.
      std::snprintf(name, sizeof name, data[at + 1] % 2 ? "%04x%s" : "%04X%s", vendor,
                    data[at + 1] % 3 ? "" : "z");
      const auto key =
          sim::CreateKeyPath(root, "SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices\\" + std::string(name));
      std::snprintf(name, sizeof name, data[at + 1] % 5 ? "%04X" : "_%03X", device);
      sim::SetStringValue(*key, name, "");
      if (data[at + 1] % 5 != 0) list.insert({vendor, device});
      continue;
    }
    std::snprintf(name, sizeof name, "PCI\\VEN_%04X&DEV_%04X&SUBSYS_0\\%zu", vendor, device, at);
    const auto key = sim::CreateKeyPath(root, std::string(sim::kEnumKeyPath) + "\\" + name);
    sim::SetStringValue(*key, "ClassGUID", kClasses[data[at + 1] % 3]);
    if (data[at + 1] & 4) sim::SetStringValue(*key, "DeviceDesc", "adapter");
    devices.emplace_back(name,
                         data[at + 1] % 3 != 2 && (data[at + 1] & 4) &&
                             ((vendor == 0x1E7C && kBuiltIn.count(device)) || list.count({vendor, device})));
  }
  RunState state{};
  if (RunInstaller(state, modes[size > 0 ? data[0] % 4 : 0]) != 1 || sim::OpenRegistryKeyCount() != 0 ||
      sim::OpenDeviceSetCount() != 0 || sim::OpenServiceHandleCount() != 0)
    __builtin_trap();
  for (const auto& [id, removed] : devices)
    if ((sim::FindKeyPath(root, std::string(sim::kEnumKeyPath) + "\\" + id) == nullptr) != removed)
      __builtin_trap();
  return 0;
}
