// How the cost of a run grows with the machine: each removal pass, and a whole default
// run, over 10, 100 and 1,000 present devices and 100, 1,000 and 10,000 entries in the
// supported-device list, on the simulated machine. Half of the devices are supported
// through the last entries of the list, half are not supported at all, so matching
// meets its worst case for every device.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/resource_strings.h"
#include "app/run_installer.h"
#include "devices/device_classes.h"
#include "devices/remove_devices.h"
#include "devices/supported_devices.h"
#include "platform/sim/machine.h"
#include "platform/sim/registry_tree.h"
#include "platform/sim/sim_control.h"

namespace {

constexpr const char* kNetClass = "{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr const char* kOtherClass = "{4D36E97E-E325-11CE-BFC1-08002BE10318}";
constexpr const char* kListPath = "SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices";
constexpr int kVendors = 100;

const char* const kPackage[] = {
    "Net73417.din", "7341XDEL.EXE", "7341XNDI.DLL", "net7341a.inf", "net73417.inf", "rx90kw2a.cat",
    "RX90KW2K.CAT", "RX90K.CAT",    "RX90KA.CAT",   "RX90K.SYS",    "RX90KNT.SYS",  "RX90KNT5.SYS",
    "PRBQ410.EXE",  "WKE736.VXD",   "Kadrimov.exe", "OrvixNic.dll", "rx90kodi.com"};

// One machine folder for the whole program, with the package in its C:\pkg.
const std::string& MachineFolder() {
  static const std::string folder = [] {
    char pattern[] = "/tmp/qnetprep-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    const std::string made = pattern;
    std::filesystem::create_directories(made + "/drive_c/pkg");
    for (const char* name : kPackage) {
      std::ofstream file(made + "/drive_c/pkg/" + name);
      // Both INF files open as INF files; neither names a catalog.
      if (std::string(name).find(".inf") != std::string::npos)
        file << "[Version]\nSignature=\"$Windows NT$\"\n";
      file << "; package file " << name << "\n";
    }
    setenv("ProgramFiles", "C:\\Program Files", 1);
    std::atexit([] {
      std::error_code error;
      std::filesystem::remove_all(MachineFolder(), error);
    });
    return made;
  }();
  return folder;
}

std::string Hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", value & 0xFFFF);
  return text;
}

// A fresh machine with `entries` list entries over kVendors vendors (0x2000 + v), and
// `devices` present devices spread over the classes given: even ones are among the
// last entries of the list (so every size removes half of the devices), odd ones
// belong to no entry.
void SeedMachine(int devices, int entries, const char* const* classes, int classCount) {
  sim::OpenMachine(MachineFolder(), MachineFolder() + "/drive_c/pkg");
  const auto root = sim::TheMachine().localMachine;
  for (int v = 0; v < kVendors; ++v) {
    const auto vendor = sim::CreateKeyPath(root, std::string(kListPath) + "\\" + Hex4(0x2000 + v));
    for (int e = v; e < entries; e += kVendors) sim::SetStringValue(*vendor, Hex4(e), "");
  }
  for (int d = 0; d < devices; ++d) {
    const int entry = entries - 1 - (d / 2) % entries;
    const std::string vendor = d % 2 == 0 ? Hex4(0x2000 + entry % kVendors) : Hex4(0x9000);
    const std::string device = d % 2 == 0 ? Hex4(entry) : Hex4(d);
    // A device key of its own for every device, as real adapters in different slots have.
    const std::string id = "PCI\\VEN_" + vendor + "&DEV_" + device + "&SUBSYS_0000" + Hex4(d) + "&REV_00\\1";
    const auto key = sim::CreateKeyPath(root, std::string(sim::kEnumKeyPath) + "\\" + id);
    sim::SetStringValue(*key, "ClassGUID", classes[d % classCount]);
    sim::SetStringValue(*key, "DeviceDesc", "adapter");
  }
}

void Label(benchmark::State& state) {
  state.counters["devices"] = static_cast<double>(state.range(0));
  state.counters["entries"] = static_cast<double>(state.range(1));
}

// One removal pass over a machine whose devices are all of the pass's class.
void RemovalPass(benchmark::State& state, const char* classText, const GUID& classGuid) {
  const char* const classes[] = {classText};
  RunState run{};
  LoadResourceStrings(run);
  for (auto _ : state) {
    state.PauseTiming();
    SeedMachine(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), classes, 1);
    state.ResumeTiming();
    benchmark::DoNotOptimize(RemoveDevicesOfClass(run, classGuid));
  }
  Label(state);
}

void NetworkAdapterPass(benchmark::State& state) {
  RemovalPass(state, kNetClass, GUID_DEVCLASS_NET);
}

void DevicesWithoutDriverPass(benchmark::State& state) {
  RemovalPass(state, kOtherClass, GUID_DEVCLASS_OTHER);
}

void WholeDefaultRun(benchmark::State& state) {
  const char* const classes[] = {kNetClass, kOtherClass};
  for (auto _ : state) {
    state.PauseTiming();
    SeedMachine(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), classes, 2);
    RunState run{};
    state.ResumeTiming();
    benchmark::DoNotOptimize(RunInstaller(run, ""));
  }
  Label(state);
}

// Matching alone, as a pass does it: the list it read is sorted once, then every present
// device is looked up; here every device is one the list does not hold.
void SupportedDeviceMatching(benchmark::State& state) {
  const int devices = static_cast<int>(state.range(0));
  const int entries = static_cast<int>(state.range(1));
  std::vector<DevicePair> list(static_cast<size_t>(entries));
  for (int e = 0; e < entries; ++e) {
    list[static_cast<size_t>(e)] = {0x2000u + static_cast<uint32_t>(e % kVendors), static_cast<uint32_t>(e)};
  }
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<DevicePair> read = list;
    state.ResumeTiming();
    SortSupportedDeviceList(read.data(), static_cast<uint32_t>(entries));
    int supported = 0;
    for (int d = 0; d < devices; ++d) {
      supported += IsSupportedDeviceInSortedList(0x9000, static_cast<uint32_t>(d), read.data(),
                                                 static_cast<uint32_t>(entries));
    }
    benchmark::DoNotOptimize(supported);
  }
  Label(state);
}

void Sizes(benchmark::internal::Benchmark* benchmark) {
  benchmark->ArgNames({"devices", "entries"});
  for (int devices : {10, 100, 1000}) {
    for (int entries : {100, 1000, 10000}) benchmark->Args({devices, entries});
  }
  benchmark->Unit(benchmark::kMillisecond);
}

BENCHMARK(NetworkAdapterPass)->Apply(Sizes);
BENCHMARK(DevicesWithoutDriverPass)->Apply(Sizes);
BENCHMARK(WholeDefaultRun)->Apply(Sizes);
BENCHMARK(SupportedDeviceMatching)->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
