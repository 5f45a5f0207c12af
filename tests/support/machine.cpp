#include "tests/support/machine.h"

#include <unistd.h>

#include <regex>

#include "app/command_tail.h"
#include "app/dll_search.h"
#include "app/run_installer.h"
#include "package/package_files.h"
#include "platform/sim/runtime_start.h"

namespace fs = std::filesystem;

// The field machine: the package's adapters beside others' devices, services, files and values.
const FieldDevice kOwnDevices[4] = {
    {kNet, "PCI\\VEN_1E7C&DEV_4C43&SUBSYS_00011E7C&REV_01\\4&1A2B&0&00E0", "Orvix RX90K adapter"},
    {kOther, "PCI\\VEN_1E7C&DEV_3A02&SUBSYS_00021E7C&REV_02\\4&2B3C&0&00E1", "Ethernet Controller"},
    {kNet, "PCI\\VEN_ABCD&DEV_1234&SUBSYS_00000000&REV_00\\5&11&0&0010", "Supported through the list"},
    {kNet, "PCI\\VEN_ABCE&DEV_1235&SUBSYS_00000000&REV_00\\5&12&0&0018", "Listed in the 32-bit view"},
};

namespace {

// Others' devices: of the maker, in the network class or with no description; no run may remove one.
const FieldDevice kNeighbourDevices[] = {
    {kNet, "PCI\\VEN_1E7C&DEV_9999&SUBSYS_00000000&REV_00\\4&44&0&0000", "Unsupported"},
    {kNet, "USB\\VID_1E7C&PID_4C43\\5&2C1D&0&2", "USB adapter, no PCI fields"},
    {kOther, "PCI\\VEN_1E7C&DEV_4C44&SUBSYS_00000000&REV_00\\4&66&0&0000", nullptr},
    {"{4D36E968-E325-11CE-BFC1-08002BE10318}", "PCI\\VEN_1E7C&DEV_4C45&SUBSYS_0&REV_00\\4&7", "Display"},
};
// Others' files where the product writes and deletes, with attributes that guard them.
struct FieldFile {
  const char *path, *content;
  DWORD attributes;
};
const FieldFile kNeighbourFiles[] = {
    {"C:\\Windows\\INF\\oem3.inf", "[Version]\nClass=Net\n; Lumenet\n", FILE_ATTRIBUTE_READONLY},
    {"C:\\Windows\\INF\\oem3.pnf", "PNF oem3\n", FILE_ATTRIBUTE_HIDDEN},
    {"C:\\Windows\\System32\\kadrimov.exe", "Kadrimov\n", FILE_ATTRIBUTE_SYSTEM},
    {"C:\\Program Files\\Orvix\\qnetprep\\notes.txt", "notes\n", FILE_ATTRIBUTE_READONLY},
};
// Values inside the product's key, beside it under names that begin as its own, and the list
// of supported devices in both registry views.
struct FieldValue {
  const char *key, *name, *text;
};
const FieldValue kFieldValues[] = {
    {"SOFTWARE\\Orvix\\qnetprep\\Notes", "Owner", "the administrator"},
    {"SOFTWARE\\Orvix\\Lumenet\\Parameters", "RenamedInf", "C:\\Windows\\INF\\oem3.inf"},
    {"SOFTWARE\\Orvix\\qnetprep2", "Install", "Success"},
    {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qnetprep2", "UninstallString", "x /u"},
    {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumora\\Parts", "Driver", "lumora.sys"},
    {"SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices\\ABCD", "1234", ""},
    {"SOFTWARE\\WOW6432Node\\Orvix\\Kadrimov\\SupportedDevices\\ABCE", "1235", ""},
};

// The changes a run may make, as Differences writes them. Others' devices and stored INFs,
// which these would let go, are held by NamesNeighbour.
std::regex OwnChanges(const std::string& tail) {
  const std::string below = R"((\\.*| : .*)?$)";
  const std::string entries = R"(SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\)";
  const std::string folder = R"(C:\\Program Files\\Orvix\\qnetprep)";
  std::string own = R"(\w+: (key|value) SOFTWARE\\Orvix\\qnetprep)" + below;
  own += R"(|\w+: (key|value) )" + entries + "qnetprep" + below;
  own += R"(|added: key SOFTWARE\\Orvix$)";
  own += R"(|removed: (key|value) SYSTEM\\CurrentControlSet\\(Enum|Services\\RX90K))" + below;
  own += R"(|\w+: (file|attributes) C:\\Windows\\(System32\\qnetprep\.exe|INF\\oem\d+\.[ip]nf)$)";
  own += R"(|\w+: (file|attributes|folder) C:\\Windows\\System32\\catroot.*)";
  own += R"(|added: folder C:\\Program Files\\Orvix$)";
  own += "|added: (file|folder) " + folder + R"((\\.*)?$)";
  own += "|(removed: (attributes|file)|modified: file) " + folder + R"(\\.*)";
  own += R"(|added: security C:\\Program Files\\Orvix$|\w+: security )" + folder + R"((\\.*)?$)";
  if (tail.find("/u") != std::string::npos) own += "|removed: (key|value) " + entries + "Lumora" + below;
  return std::regex(own, std::regex::icase | std::regex::optimize);
}

bool NamesNeighbour(const std::string& change) {
  const auto names = [&change](const char* text) { return change.find(text) != std::string::npos; };
  return std::any_of(std::begin(kNeighbourDevices), std::end(kNeighbourDevices),
                     [&](const FieldDevice& device) { return names(device.instance); }) ||
         std::any_of(std::begin(kNeighbourFiles), std::end(kNeighbourFiles),
                     [&](const FieldFile& file) { return names(file.path); });
}

void CaptureKey(const sim::RegKey& key, const std::string& path, MachineState* state) {
  (*state)["key " + path] = "";
  for (const sim::RegValue& value : key.values)
    (*state)["value " + path + " : " + value.name] =
        std::to_string(value.type) + " " + std::string(value.data.begin(), value.data.end());
  for (const auto& subkey : key.subkeys)
    CaptureKey(*subkey, path + (path.empty() ? "" : "\\") + subkey->name, state);
}

}  // namespace

std::string Differences(const MachineState& before, const MachineState& after) {
  std::string changes;
  for (const auto& [entry, text] : before)
    if (after.count(entry) == 0 || after.at(entry) != text)
      changes += (after.count(entry) == 0 ? "removed: " : "modified: ") + entry + "\n";
  for (const auto& [entry, text] : after)
    if (before.count(entry) == 0) changes += "added: " + entry + "\n";
  return changes;
}

std::string FaultText(const sim::Fault& fault) {
  if (fault.useResult) return "returning " + std::to_string(fault.result);
  return fault.error != 0 ? "failing with error " + std::to_string(fault.error)
                          : "failing with its usual error";
}

std::string Describe(const Failing& failing) {
  if (*failing.call == '\0') return "no call failing";
  return failing.call + " on \""s + failing.on + "\" " + FaultText(failing.fault);
}

void MachineTest::SetUp() {  // whole runs copy machines by the thousand: memory keeps up
  workspace_ =
      ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/qnetprep-test-XXXXXX" : "/tmp/qnetprep-test-XXXXXX";
  ASSERT_NE(::mkdtemp(workspace_.data()), nullptr);
  Open();
  setenv("ProgramFiles", "C:\\Program Files", 1);
}

void MachineTest::Open() {
  folder_ = workspace_ + "/m" + std::to_string(machines_++);
  fs::create_directories(folder_ + "/drive_c/pkg");
  sim::OpenMachine(folder_, folder_ + "/drive_c/pkg");
}

int MachineTest::Run(const std::string& tail) {
  sim::SetCommandLine("qnetprep.exe " + tail);
  RunState state{};
  int result = 0;
  output_ = OutputOf([&] {
    HardenDllSearch();
    result = RunInstaller(state, CommandTailOf(GetCommandLineA()));
  });
  return result;
}

void MachineTest::PrepareTemplate(const Mode& mode) {
  for (const std::string name : kPackageFiles)
    Write("C:\\pkg\\" + name, name == "net7341a.inf"   ? InfText(name, "rx90kw2a.cat")
                              : name == "net73417.inf" ? InfText(name, "RX90KW2K.CAT")
                                                       : "package file " + name);
  Write("C:\\pkg\\qnetprep.exe", "program image\n");
  const auto addAdapters = [this] {
    for (const FieldDevice& device : kOwnDevices)
      AddDevice(device.classGuid, device.instance, device.description);
    AddService("RX90K");
  };
  addAdapters();
  for (const FieldDevice& device : kNeighbourDevices)
    AddDevice(device.classGuid, device.instance, device.description);
  AddService("RX90K2");
  for (const FieldFile& file : kNeighbourFiles) Write(file.path, file.content, file.attributes);
  for (const FieldValue& value : kFieldValues) SetString(value.key, value.name, value.text);
  // The recorded install removed the adapters; Windows finds them again.
  if (mode.afterRecordedInstall) {
    Run("/au");
    addAdapters();
  }
  sim::SaveMachine();
  template_ = folder_;
}

std::string MachineTest::CopyTemplate(const std::string& name) {
  fs::remove_all(workspace_ + "/" + name);
  fs::copy(template_, workspace_ + "/" + name, fs::copy_options::recursive);
  return workspace_ + "/" + name;
}

MachineState MachineTest::Capture() {
  MachineState state;
  CaptureKey(*sim::TheMachine().localMachine, "", &state);
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder_ + "/drive_c")) {
    const std::string name = sim::MapLinuxPath(entry.path().string());
    state[(entry.is_directory() ? "folder " : "file ") + name] =
        entry.is_directory() ? "" : Slurp(entry.path());
    if (const DWORD bits = sim::StoredAttributes(entry.path().string()))
      state["attributes " + name] = std::to_string(bits);
  }
  for (const auto& [path, security] : sim::KeptSecurity())
    state["security " + sim::MapLinuxPath(path)] = sim::FormatSddl(security);
  return state;
}

void MachineTest::CheckedRun(const std::string& tail, const std::string& faulted, int failedCloses) {
  const MachineState before = Capture();
  const int sets = sim::OpenDeviceSetCount();
  const int services = sim::OpenServiceHandleCount();
  EXPECT_EQ(Run(tail), 1) << "exit code";
  const int failed = failedCloses == kEveryClose ? static_cast<int>(Calls(faulted).size()) : failedCloses;
  EXPECT_EQ(sim::OpenRegistryKeyCount(), faulted == "RegCloseKey" ? failed : 0) << "registry keys left open";
  EXPECT_EQ(sim::OpenDeviceSetCount() - sets, faulted == "SetupDiDestroyDeviceInfoList" ? failed : 0)
      << "device information sets left open";
  EXPECT_EQ(sim::OpenServiceHandleCount() - services, faulted == "CloseServiceHandle" ? failed : 0)
      << "service handles left open";
  EXPECT_EQ(sim::OpenTokenHandleCount(), faulted == "CloseHandle" ? failed : 0) << "tokens left open";
  EXPECT_EQ(sim::LocalAllocationCount(), 0) << "memory left unfreed";
  const std::regex errorLines("((SetFileAttributes|CopyFile) error, error value = [0-9a-f]+)*");
  EXPECT_TRUE(std::regex_match(output_, errorLines)) << "standard output, only error lines: " << output_;
  std::string foreign;
  const std::regex own = OwnChanges(tail);
  std::istringstream changes(Differences(before, Capture()));
  for (std::string change; std::getline(changes, change);)
    if (!std::regex_match(change, own) || NamesNeighbour(change)) foreign += change + "\n";
  EXPECT_EQ(foreign, "") << "changes outside the product's, or to a neighbour";
}
