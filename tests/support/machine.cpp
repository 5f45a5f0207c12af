#include "tests/support/machine.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "app/command_tail.h"
#include "app/dll_search.h"
#include "app/run_installer.h"
#include "install/package_files.h"
#include "platform/sim/paths.h"
#include "platform/sim/registry_tree.h"
#include "platform/sim/runtime_start.h"

namespace fs = std::filesystem;
using namespace where;

const Mode kModes[5] = {{"Default", "", false},
                        {"Record", "/au", false},
                        {"RecordOverRecordedInstall", "/au", true},
                        {"SingleInf", "/inf=net7341a.inf", false},
                        {"UninstallAfterRecordedInstall", "/u", true}};

namespace {

struct Seed {
  const char *where, *name, *text;
  DWORD bits;
};
const Seed kOwnDevices[] = {
    {kNet, "PCI\\VEN_1E7C&DEV_4C43&SUBSYS_00011E7C&REV_01\\4&1A2B&0&00E0", "Orvix RX90K adapter", 0},
    {kOther, "PCI\\VEN_1E7C&DEV_3A02&SUBSYS_00021E7C&REV_02\\4&2B3C&0&00E1", "Ethernet Controller", 0},
    // Supported only through the list that another product keeps.
    {kNet, "PCI\\VEN_ABCD&DEV_1234&SUBSYS_00000000&REV_00\\5&11&0&0010", "Kadrimov adapter", 0}};
const Seed kNeighbourDevices[] = {
    {kNet, "PCI\\VEN_8086&DEV_100E&SUBSYS_001E8086&REV_02\\3&26&0&18", "Other vendor adapter", 0},
    {kNet, "PCI\\VEN_1E7C&DEV_9999&SUBSYS_00000000&REV_00\\4&44&0&0000", "Unsupported Orvix adapter", 0},
    {kNet, "ROOT\\NET\\0000", "Virtual adapter", 0},
    {kOther, "PCI\\VEN_1E7C&DEV_4C44&SUBSYS_00000000&REV_00\\4&66&0&0000", nullptr, 0},  // no description
    {"{4D36E968-E325-11CE-BFC1-08002BE10318}", "PCI\\VEN_1E7C&DEV_4C45&SUBSYS_0&REV_00\\4&77&0&0", "Display",
     0}};
const Seed kNeighbourFiles[] = {
    {"C:\\Windows\\INF\\oem3.inf", nullptr, "[Version]\nClass=Net\n; Lumenet\n", FILE_ATTRIBUTE_READONLY},
    {"C:\\Windows\\INF\\oem3.pnf", nullptr, "PNF oem3\n", 0},
    {"C:\\Windows\\INF\\netrx.pnf", nullptr, "PNF netrx\n", FILE_ATTRIBUTE_HIDDEN},
    {"C:\\Windows\\System32\\kadrimov.exe", nullptr, "Kadrimov\n",
     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
    {"C:\\Program Files\\Orvix\\Lumenet\\lumenet.exe", nullptr, "Lumenet\n", 0},
    {"C:\\Program Files\\Orvix\\qnetprep\\notes.txt", nullptr, "notes\n", FILE_ATTRIBUTE_READONLY},
    {"C:\\pkg\\readme.txt", nullptr, "readme\n", 0}};
const Seed kNeighbourValues[] = {
    {"SOFTWARE\\Orvix", "Owner", "Orvix", 0},
    {"SOFTWARE\\Orvix\\Lumenet\\Parameters", "RenamedInf", "C:\\Windows\\INF\\oem3.inf", 0},
    {"SOFTWARE\\Orvix\\qnetprep2", "Install", "Success", 0},
    {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qnetprep2", "UninstallString", "x /u", 0},
    {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumora\\Parts", "Driver", "lumora.sys", 0},
    {"SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices\\ABCD", "1234", "", 0},
    {"SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices\\8086", "10D3", "", 0},
    {"SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices\\Notes", "4C46", "", 0}};
const char* const kNeighbourServices[] = {"RX90K2", "Tcpip"};

std::string PackageContent(const std::string& name) {
  if (name == "net7341a.inf") return InfText(name, "rx90kw2a.cat");
  if (name == "net73417.inf") return InfText(name, "RX90KW2K.CAT");
  return "package file " + name + "\n";
}

std::string Enum(const std::string& id) {
  return "SYSTEM\\CurrentControlSet\\Enum\\" + id;
}

std::string Escaped(const std::string& text) {
  return std::regex_replace(text, std::regex(R"([\\^$.|?*+()\[\]{}])"), R"(\$&)");
}

void CaptureKey(const sim::RegKey& key, const std::string& path, MachineState* state) {
  (*state)["key " + path] = "";
  for (const sim::RegValue& value : key.values)
    (*state)["value " + path + " : " + value.name] =
        std::to_string(value.type) + " " + std::string(value.data.begin(), value.data.end());
  for (const auto& subkey : key.subkeys)
    CaptureKey(*subkey, path.empty() ? subkey->name : path + "\\" + subkey->name, state);
}

// What a run may change (lines of Differences): its own keys, files, devices and
// service. Other devices and INF copies may only go where the neighbours check allows.
std::regex OwnChanges(const std::string& tail, const std::string& installFolder,
                      const std::string& recordedStems) {
  const std::string below = R"((\\.*| : .*)?$)";
  std::string own =
      R"(\w+: (key|value) SOFTWARE\\Orvix\\qnetprep)" + below +
      R"(|\w+: (key|value) SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qnetprep)" + below +
      R"(|added: key SOFTWARE\\Orvix$)" +
      R"(|removed: (key|value) SYSTEM\\CurrentControlSet\\(Enum|Services\\RX90K))" + below +
      R"(|\w+: (file|attributes) C:\\Windows\\System32\\qnetprep\.exe$)" +
      R"(|added: file C:\\Windows\\INF\\oem\d+\.[ip]nf$|added: (file|folder) C:\\Windows\\System32\\catroot.*)" +
      "|added: folder " + Escaped(installFolder.substr(0, installFolder.rfind('\\'))) +
      "$|added: (file|folder) " + Escaped(installFolder) + R"((\\.*)?$|removed: attributes )" +
      Escaped(installFolder) + R"(\\.*)";
  if (tail.find("/u") != std::string::npos)
    own += R"(|removed: (key|value) SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumora)" + below;
  if (!recordedStems.empty())
    own += R"(|(removed|modified): (file|attributes) C:\\Windows\\(INF|System32\\catroot\\[^\\]+)\\()" +
           recordedStems + R"()\.(inf|pnf|cat)$)";
  return std::regex(own, std::regex::icase | std::regex::optimize);
}

}  // namespace

std::string InfText(const std::string& label, const std::string& catalog) {
  return "[Version]\nSignature=\"$Windows NT$\"\n" +
         (catalog.empty() ? "" : "CatalogFile=" + catalog + "\n") + "; " + label + "\n";
}

std::string PciId(const std::string& vendor, const std::string& device) {
  return "PCI\\VEN_" + vendor + "&DEV_" + device + "&SUBSYS_00000000&REV_00\\3&1&0&00";
}

std::vector<std::string> Differences(const MachineState& before, const MachineState& after) {
  std::vector<std::string> changes;
  for (const auto& [entry, text] : before) {
    const auto found = after.find(entry);
    if (found == after.end()) changes.push_back("removed: " + entry);
    if (found != after.end() && found->second != text) changes.push_back("modified: " + entry);
  }
  for (const auto& [entry, text] : after)
    if (before.count(entry) == 0) changes.push_back("added: " + entry);
  return changes;
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

void MachineTest::SetUp() {
  // Whole-run tests copy machines by the thousand: a memory file system keeps up.
  workspace_ =
      ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/qnetprep-test-XXXXXX" : "/tmp/qnetprep-test-XXXXXX";
  ASSERT_NE(::mkdtemp(workspace_.data()), nullptr);
  folder_ = workspace_ + "/machine";
  fs::create_directories(folder_ + "/drive_c/pkg");
  sim::OpenMachine(folder_, folder_ + "/drive_c/pkg");
  setenv("ProgramFiles", "C:\\Program Files", 1);
}

void MachineTest::TearDown() {
  std::error_code error;
  fs::remove_all(workspace_, error);
}

void MachineTest::SetString(const std::string& key, const std::string& name, const std::string& text) {
  sim::SetStringValue(*sim::CreateKeyPath(sim::TheMachine().localMachine, key), name, text);
}

void MachineTest::SetBytes(const std::string& key, const std::string& name, uint32_t type,
                           const std::string& bytes) {
  sim::SetValue(*sim::CreateKeyPath(sim::TheMachine().localMachine, key), name, type,
                reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string MachineTest::Str(const std::string& key, const std::string& name) {
  const auto found = sim::FindKeyPath(sim::TheMachine().localMachine, key);
  const sim::RegValue* value = found == nullptr ? nullptr : sim::FindValue(*found, name);
  if (value == nullptr) return "";
  const std::string text(value->data.begin(), value->data.end());
  return text.substr(0, text.find('\0'));
}

bool MachineTest::Has(const std::string& key, const char* value) {
  const auto found = sim::FindKeyPath(sim::TheMachine().localMachine, key);
  return found != nullptr && (value == nullptr || sim::FindValue(*found, value) != nullptr);
}

std::string MachineTest::Linux(const std::string& path) {
  sim::MappedPath mapped;
  DWORD error = 0;
  return sim::MapWindowsPath(path, &mapped, &error) ? mapped.linuxPath : "";
}

void MachineTest::Write(const std::string& path, const std::string& content, DWORD attributes) {
  const std::string linux = Linux(path);
  fs::create_directories(sim::LinuxParent(linux));
  std::ofstream(linux, std::ios::binary | std::ios::trunc) << content;
  sim::StoreAttributes(linux, attributes);
}

std::string MachineTest::Read(const std::string& path) {
  std::ostringstream content;
  content << std::ifstream(Linux(path), std::ios::binary).rdbuf();
  return content.str();
}

bool MachineTest::Exists(const std::string& path) {
  std::error_code error;
  return fs::is_regular_file(Linux(path), error);
}

void MachineTest::AddDevice(const char* classGuid, const std::string& id, const char* description) {
  const auto key = sim::CreateKeyPath(sim::TheMachine().localMachine, Enum(id));
  sim::SetStringValue(*key, "ClassGUID", classGuid);
  if (description != nullptr) sim::SetStringValue(*key, "DeviceDesc", description);
}

bool MachineTest::HasDevice(const std::string& id) {
  return Has(Enum(id));
}

void MachineTest::AddService(const std::string& name) {
  SetBytes(std::string(sim::kServicesKeyPath) + "\\" + name, "Type", REG_DWORD, std::string("\1\0\0\0", 4));
}

std::vector<std::string> MachineTest::Calls(const std::string& name) {
  std::vector<std::string> details;
  for (const sim::CallRecord& call : sim::CallLog())
    if (call.name == name) details.push_back(call.detail);
  return details;
}

int MachineTest::Run(const std::string& tail) {
  // As WinMain runs it, from the command line that the start-up forms.
  sim::SetCommandLine("qnetprep.exe " + tail);
  RunState state{};
  testing::internal::CaptureStdout();
  HardenDllSearch();
  const int result = RunInstaller(state, CommandTailOf(GetCommandLineA()));
  std::fflush(stdout);
  output_ = testing::internal::GetCapturedStdout();
  return result;
}

void MachineTest::SeedOwnDevices() {
  for (const Seed& device : kOwnDevices) AddDevice(device.where, device.name, device.text);
  AddService("RX90K");
}

void MachineTest::SeedField() {
  for (const char* name : kPackageFiles) Write(std::string("C:\\pkg\\") + name, PackageContent(name));
  Write("C:\\pkg\\qnetprep.exe", "program image\n");
  SeedOwnDevices();
  for (const Seed& device : kNeighbourDevices) AddDevice(device.where, device.name, device.text);
  for (const char* service : kNeighbourServices) AddService(service);
  for (const Seed& file : kNeighbourFiles) Write(file.where, file.text, file.bits);
  for (const Seed& value : kNeighbourValues) SetString(value.where, value.name, value.text);
}

void MachineTest::PrepareTemplate(const Mode& mode) {
  SeedField();
  if (mode.afterRecordedInstall) {
    Run("/au");
    // The adapters and the service came back since.
    SeedOwnDevices();
  }
  sim::SaveMachine();
  template_ = folder_;
}

std::string MachineTest::CopyTemplate(const std::string& name) {
  const std::string copy = workspace_ + "/" + name;
  std::error_code error;
  fs::remove_all(copy, error);
  fs::copy(template_, copy, fs::copy_options::recursive, error);
  EXPECT_FALSE(error) << error.message();
  return copy;
}

void MachineTest::OpenCopy() {
  folder_ = CopyTemplate("run" + std::to_string(copies_++ % 2));
  sim::OpenMachine(folder_, folder_ + "/drive_c/pkg");
  installFolder_ = "C:\\Program Files\\Orvix\\qnetprep";
}

MachineState MachineTest::Capture() {
  MachineState state;
  CaptureKey(*sim::TheMachine().localMachine, "", &state);
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder_ + "/drive_c", error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    const std::string name = sim::MapLinuxPath(it->path().string());
    if (it->is_directory()) {
      state["folder " + name] = "";
      continue;
    }
    std::ostringstream content;
    content << std::ifstream(it->path(), std::ios::binary).rdbuf();
    state["file " + name] = content.str();
    if (const DWORD bits = sim::StoredAttributes(it->path().string()))
      state["attributes " + name] = std::to_string(bits);
  }
  return state;
}

void MachineTest::CheckedRun(const std::string& tail, const std::string& faulted, int failedCloses) {
  const MachineState before = Capture();
  std::string recordedStems;
  for (const char* slot : {"RenamedInf", "RenamedInf1"}) {
    std::smatch stem;
    const std::string path = Str(where::kParameters, slot);
    if (std::regex_match(path, stem, std::regex(R"(C:\\Windows\\INF\\(oem\d+)\.inf)", std::regex::icase)))
      recordedStems += (recordedStems.empty() ? "" : "|") + stem[1].str();
  }
  const int sets = sim::OpenDeviceSetCount(), services = sim::OpenServiceHandleCount();
  EXPECT_EQ(Run(tail), 1);
  const int failed = failedCloses >= 0 ? failedCloses : static_cast<int>(Calls(faulted).size());
  const auto left = [&](const char* close) { return faulted == close ? failed : 0; };
  EXPECT_EQ(sim::OpenRegistryKeyCount(), left("RegCloseKey")) << "registry keys left open";
  EXPECT_EQ(sim::OpenDeviceSetCount() - sets, left("SetupDiDestroyDeviceInfoList"))
      << "device sets left open";
  EXPECT_EQ(sim::OpenServiceHandleCount() - services, left("CloseServiceHandle")) << "services left open";
  EXPECT_TRUE(
      std::regex_match(output_, std::regex("((SetFileAttributes|CopyFile) error, error value = [0-9a-f]+)*")))
      << output_;
  const MachineState after = Capture();
  std::vector<std::string> foreign;
  const std::regex own = OwnChanges(tail, installFolder_, recordedStems);
  for (const std::string& change : Differences(before, after))
    if (!std::regex_match(change, own)) foreign.push_back(change);
  std::vector<std::string> neighbours;
  for (const Seed& device : kNeighbourDevices) neighbours.push_back("key " + Enum(device.name));
  for (const Seed& file : kNeighbourFiles)
    neighbours.insert(neighbours.end(),
                      {"file " + std::string(file.where), "attributes " + std::string(file.where)});
  for (const std::string& entry : neighbours)
    if (before.count(entry) != after.count(entry) ||
        (after.count(entry) && before.at(entry) != after.at(entry)))
      foreign.push_back("neighbour changed: " + entry);
  EXPECT_EQ(Lines(foreign), "");
}
