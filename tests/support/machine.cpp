#include "tests/support/machine.h"

#include <unistd.h>

#include <regex>

#include "app/command_tail.h"
#include "app/dll_search.h"
#include "app/run_installer.h"
#include "install/package_files.h"
#include "platform/sim/runtime_start.h"

namespace fs = std::filesystem;
namespace {

// d, D: own and others' devices; s, S: services; F: files with attributes; V: values.
const struct {
  char kind;
  const char *a, *b = nullptr, *c = nullptr;
  DWORD bits = 0;
} kField[] = {
    {'d', kNet, "PCI\\VEN_1E7C&DEV_4C43&SUBSYS_00011E7C&REV_01\\4&1A2B&0&00E0", "Orvix RX90K adapter"},
    {'d', kOther, "PCI\\VEN_1E7C&DEV_3A02&SUBSYS_00021E7C&REV_02\\4&2B3C&0&00E1", "Ethernet Controller"},
    {'d', kNet, "PCI\\VEN_ABCD&DEV_1234&SUBSYS_00000000&REV_00\\5&11&0&0010", "Supported through the list"},
    {'d', kNet, "PCI\\VEN_ABCE&DEV_1235&SUBSYS_00000000&REV_00\\5&12&0&0018", "Listed in the 32-bit view"},
    {'s', "RX90K"},
    {'D', kNet, "PCI\\VEN_1E7C&DEV_9999&SUBSYS_00000000&REV_00\\4&44&0&0000", "Unsupported"},
    {'D', kNet, "USB\\VID_1E7C&PID_4C43\\5&2C1D&0&2", "USB adapter, no PCI fields"},
    {'D', kOther, "PCI\\VEN_1E7C&DEV_4C44&SUBSYS_00000000&REV_00\\4&66&0&0000", nullptr},
    {'D', "{4D36E968-E325-11CE-BFC1-08002BE10318}", "PCI\\VEN_1E7C&DEV_4C45&SUBSYS_0&REV_00\\4&7", "Display"},
    {'S', "RX90K2"},
    {'F', "C:\\Windows\\INF\\oem3.inf", "[Version]\nClass=Net\n; Lumenet\n", nullptr,
     FILE_ATTRIBUTE_READONLY},
    {'F', "C:\\Windows\\INF\\oem3.pnf", "PNF oem3\n", nullptr, FILE_ATTRIBUTE_HIDDEN},
    {'F', "C:\\Windows\\System32\\kadrimov.exe", "Kadrimov\n", nullptr, FILE_ATTRIBUTE_SYSTEM},
    {'F', "C:\\Program Files\\Orvix\\qnetprep\\notes.txt", "notes\n", nullptr, FILE_ATTRIBUTE_READONLY},
    {'V', "SOFTWARE\\Orvix\\qnetprep\\Notes", "Owner", "the administrator"},
    {'V', "SOFTWARE\\Orvix\\Lumenet\\Parameters", "RenamedInf", "C:\\Windows\\INF\\oem3.inf"},
    {'V', "SOFTWARE\\Orvix\\qnetprep2", "Install", "Success"},
    {'V', "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qnetprep2", "UninstallString", "x /u"},
    {'V', "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumora\\Parts", "Driver", "lumora.sys"},
    {'V', "SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices\\ABCD", "1234", ""},
    {'V', "SOFTWARE\\WOW6432Node\\Orvix\\Kadrimov\\SupportedDevices\\ABCE", "1235", ""}};

std::string Escaped(const std::string& text) {
  return std::regex_replace(text, std::regex(R"([\\^$.|?*+()\[\]{}])"), R"(\$&)");
}

// What a run may change. Others' devices and stored INFs are held by the neighbours check.
std::regex OwnChanges(const std::string& tail, const std::string& installFolder) {
  const std::string below = R"((\\.*| : .*)?$)",
                    list = R"(SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\)";
  std::string own = R"(\w+: (key|value) (SOFTWARE\\Orvix\\|)" + list + ")qnetprep" + below +
                    R"(|added: key SOFTWARE\\Orvix$)" +
                    R"(|removed: (key|value) SYSTEM\\CurrentControlSet\\(Enum|Services\\RX90K))" + below +
                    R"(|\w+: (file|attributes) C:\\Windows\\(System32\\qnetprep\.exe|INF\\oem\d+\.[ip]nf)$)" +
                    R"(|\w+: (file|attributes|folder) C:\\Windows\\System32\\catroot.*|added: folder )" +
                    Escaped(installFolder.substr(0, installFolder.rfind('\\'))) + "$|added: (file|folder) " +
                    Escaped(installFolder) + R"((\\.*)?$|(removed: attributes|modified: file) )" +
                    Escaped(installFolder) + R"(\\.*)";
  if (tail.find("/u") != std::string::npos) own += "|removed: (key|value) " + list + "Lumora" + below;
  return std::regex(own, std::regex::icase | std::regex::optimize);
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
  output_ =
      OutputOf([&] { HardenDllSearch(), result = RunInstaller(state, CommandTailOf(GetCommandLineA())); });
  return result;
}

void MachineTest::PrepareTemplate(const Mode& mode) {
  for (const std::string name : kPackageFiles)
    Write("C:\\pkg\\" + name, name == "net7341a.inf"   ? InfText(name, "rx90kw2a.cat")
                              : name == "net73417.inf" ? InfText(name, "RX90KW2K.CAT")
                                                       : "package file " + name);
  Write("C:\\pkg\\qnetprep.exe", "program image\n");
  for (const std::string kinds : {"dDsSFV", mode.afterRecordedInstall ? "ds" : ""}) {
    if (kinds == "ds") Run("/au");
    for (const auto& seed : kField) {
      const char kind = kinds.find(seed.kind) == std::string::npos ? ' ' : seed.kind;
      if (kind == 'd' || kind == 'D') AddDevice(seed.a, seed.b, seed.c);
      if (kind == 's' || kind == 'S') AddService(seed.a);
      if (kind == 'F' || kind == 'V')
        kind == 'F' ? Write(seed.a, seed.b, seed.bits) : SetString(seed.a, seed.b, seed.c);
    }
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
  return state;
}

void MachineTest::CheckedRun(const std::string& tail, const std::string& faulted, int failedCloses) {
  const MachineState before = Capture();
  const int sets = sim::OpenDeviceSetCount(), services = sim::OpenServiceHandleCount();
  EXPECT_EQ(Run(tail), 1);
  const int failed = failedCloses >= 0 ? failedCloses : static_cast<int>(Calls(faulted).size());
  EXPECT_EQ(sim::OpenRegistryKeyCount(), faulted == "RegCloseKey" ? failed : 0);
  EXPECT_EQ(sim::OpenDeviceSetCount() - sets, faulted == "SetupDiDestroyDeviceInfoList" ? failed : 0);
  EXPECT_EQ(sim::OpenServiceHandleCount() - services, faulted == "CloseServiceHandle" ? failed : 0);
  EXPECT_TRUE(
      std::regex_match(output_, std::regex("((SetFileAttributes|CopyFile) error, error value = [0-9a-f]+)*")))
      << output_;
  const MachineState after = Capture();
  std::string foreign;
  const std::regex own = OwnChanges(tail, installFolder_);
  std::istringstream changes(Differences(before, after));
  for (std::string change; std::getline(changes, change);)
    if (!std::regex_match(change, own)) foreign += change + "\n";
  for (const auto& seed : kField) {
    const std::string entries[] = {"key SYSTEM\\CurrentControlSet\\Enum\\"s + (seed.b ? seed.b : ""),
                                   "file "s + seed.a, "attributes "s + seed.a};
    for (const std::string& entry : entries)
      if ((seed.kind == 'D' || seed.kind == 'F') &&
          (before.count(entry) ? before.at(entry) : "-") != (after.count(entry) ? after.at(entry) : "-"))
        foreign += "neighbour changed: " + entry + "\n";
  }
  EXPECT_EQ(foreign, "");
}
