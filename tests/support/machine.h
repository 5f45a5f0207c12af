// A fresh simulated machine for every test, seeded and inspected without going through
// the calls under test; the field machine that whole runs meet (the package, supported
// adapters, the driver's service, and neighbours wherever a run reaches); and the one
// check that every whole run must pass, whatever its input or its faults.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/file_attributes.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_control.h"

namespace where {
constexpr const char* kProduct = "SOFTWARE\\Orvix\\qnetprep";
constexpr const char* kParameters = "SOFTWARE\\Orvix\\qnetprep\\Parameters";
constexpr const char* kEntry = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qnetprep";
constexpr const char* kSupported = "SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices";
constexpr const char* kInstall = "C:\\Program Files\\Orvix\\qnetprep\\";
constexpr const char* kSelfCopy = "C:\\Windows\\System32\\qnetprep.exe";
constexpr const char* kNet = "{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr const char* kOther = "{4D36E97E-E325-11CE-BFC1-08002BE10318}";
}  // namespace where

// An INF that the store accepts, told apart by `label`, naming `catalog` unless empty.
std::string InfText(const std::string& label, const std::string& catalog = "");
std::string PciId(const std::string& vendor, const std::string& device);

// Entries "key P", "value P : name", "folder C:\..", "file C:\.." and "attributes C:\..",
// each with its type and bytes, content or bits.
using MachineState = std::map<std::string, std::string>;
// "added: entry", "removed: entry", "modified: entry", one a line.
std::vector<std::string> Differences(const MachineState& before, const MachineState& after);
std::string Lines(const std::vector<std::string>& lines);

struct Mode {
  const char* name;
  const char* tail;
  bool afterRecordedInstall;
};
// Default, /au, /au over a recorded install, /inf=, /u after a recorded install.
extern const Mode kModes[5];
inline std::string ModeName(const testing::TestParamInfo<Mode>& info) {
  return info.param.name;
}

class MachineTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Registry below HKEY_LOCAL_MACHINE.
  void SetString(const std::string& key, const std::string& name, const std::string& text);
  void SetBytes(const std::string& key, const std::string& name, uint32_t type, const std::string& bytes);
  std::string Str(const std::string& key, const std::string& name);  // up to the first NUL, "" if missing
  bool Has(const std::string& key, const char* value = nullptr);
  // Files by Windows path.
  std::string Linux(const std::string& path);
  void Write(const std::string& path, const std::string& content, DWORD attributes = 0);
  std::string Read(const std::string& path);
  bool Exists(const std::string& path);
  DWORD Attributes(const std::string& path) { return sim::StoredAttributes(Linux(path)); }
  void AddDevice(const char* classGuid, const std::string& id, const char* description = "adapter");
  bool HasDevice(const std::string& id);
  void AddService(const std::string& name);
  // The details of the logged calls of one name, in order.
  static std::vector<std::string> Calls(const std::string& name);

  // The installer in this process; standard output goes to output_.
  int Run(const std::string& tail);

  // The field machine: the package in C:\pkg, own adapters, service and every neighbour.
  void SeedField();
  void SeedOwnDevices();
  // Seeds the field machine for `mode` and keeps it as the template of the runs.
  void PrepareTemplate(const Mode& mode);
  std::string CopyTemplate(const std::string& name);
  void OpenCopy();
  MachineState Capture();
  // Runs `tail` and checks what every run keeps to: exit code 1, no handle left open
  // (beyond `failedCloses` of the faulted close `faulted`, -1: every one of the run), nothing but the error
  // lines on standard output, every neighbour as it was, and no change outside the product's own keys, files,
  // devices and service.
  void CheckedRun(const std::string& tail, const std::string& faulted = "", int failedCloses = 0);

  std::string folder_, workspace_, template_, output_;
  std::string installFolder_ = "C:\\Program Files\\Orvix\\qnetprep";
  int copies_ = 0;
};
