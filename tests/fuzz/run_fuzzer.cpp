// Whole runs over a fuzzed list and devices: exit code 1, no handle open, exactly the supported
// devices removed. Byte 0: the mode; then records of kind (even: list entry), details, vendor, device.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "app/run_installer.h"
#include "platform/sim/machine.h"
#include "platform/sim/registry_tree.h"
#include "platform/sim/sim_control.h"

using namespace std::string_literals;

namespace {

const std::set<unsigned> kBuiltIn = {0x3A02, 0x3A07, 0x3A15, 0x4C21, 0x4C40, 0x4C41, 0x4C42, 0x4C43,
                                     0x4C44, 0x4C45, 0x4C46, 0x4C47, 0x5B10, 0x6E03, 0x7D31};
std::string g_machine =
    ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/qnetprep-fuzz-XXXXXX" : "/tmp/qnetprep-fuzz-XXXXXX";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    if (!::mkdtemp(g_machine.data()) || !std::freopen("/dev/null", "w", stdout)) std::abort();
    std::filesystem::create_directories(g_machine + "/drive_c/pkg");
    // A package whose INFs every install mode stores: only then does an install remove anything.
    for (const char* inf : {"net7341a.inf", "net73417.inf", "x.inf"})
      std::ofstream(g_machine + "/drive_c/pkg/" + inf) << "[Version]\nSignature=\"$Windows NT$\"\n";
    return std::atexit([] { std::filesystem::remove_all(g_machine); }) == 0;
  }();
  // Nothing is ever saved: every input starts from the same bare registry; the store keeps its copies.
  sim::OpenMachine(g_machine, ready ? g_machine + "/drive_c/pkg" : "/");
  const auto root = sim::TheMachine().localMachine;
  std::set<std::pair<unsigned, unsigned>> list;
  std::vector<std::tuple<std::string, bool, std::pair<unsigned, unsigned>>> devices;  // id, removable, pair
  for (size_t at = 1; at + 6 <= size; at += 6) {
    const unsigned details = data[at + 1], vendor = data[at + 2] << 8 | data[at + 3],
                   device = data[at + 4] << 8 | data[at + 5];
    char name[80];
    if (data[at] % 2 == 0) {
      // Vendor names of either case, some with more after the digits; device names without digits.
      std::snprintf(name, sizeof name, details % 2 ? "%04x%s" : "%04X%s", vendor, details % 3 ? "" : "z");
      const auto key = sim::CreateKeyPath(root, "SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices\\"s + name);
      std::snprintf(name, sizeof name, details % 5 ? "%04X" : "_%03X", device);
      sim::SetStringValue(*key, name, "");
      if (details % 5 != 0) list.insert({vendor, device});
      continue;
    }
    std::snprintf(name, sizeof name, "PCI\\VEN_%04X&DEV_%04X&SUBSYS_0\\%zu", vendor, device, at);
    const auto key = sim::CreateKeyPath(root, "SYSTEM\\CurrentControlSet\\Enum\\"s + name);
    // Network adapters, devices without a driver, display adapters.
    sim::SetStringValue(*key, "ClassGUID",
                        "{4D36E9"s + "727E68"[details % 3 * 2] + "727E68"[details % 3 * 2 + 1] +
                            "-E325-11CE-BFC1-08002BE10318}");
    if (details & 4) sim::SetStringValue(*key, "DeviceDesc", "adapter");
    devices.emplace_back(name, details % 3 != 2 && (details & 4), std::pair(vendor, device));
  }
  RunState state{};
  const char* const modes[] = {"", "/au", "/u", "/inf=x.inf"};
  if (RunInstaller(state, modes[size > 0 ? data[0] % 4 : 0]) != 1 || sim::OpenRegistryKeyCount() != 0 ||
      sim::OpenDeviceSetCount() != 0 || sim::OpenServiceHandleCount() != 0)
    __builtin_trap();
  for (const auto& [id, removable, pair] : devices) {
    const bool supported = (pair.first == 0x1E7C && kBuiltIn.count(pair.second)) || list.count(pair);
    if ((sim::FindKeyPath(root, "SYSTEM\\CurrentControlSet\\Enum\\" + id) == nullptr) !=
        (removable && supported))
      __builtin_trap();
  }
  return 0;
}
