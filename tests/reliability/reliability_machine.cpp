#include "tests/reliability/reliability_machine.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include "app/run_installer.h"
#include "platform/sim/paths.h"

namespace {

namespace fs = std::filesystem;
using namespace where;

const char* const kPackageFiles[] = {
    "Net73417.din", "7341XDEL.EXE", "7341XNDI.DLL", "net7341a.inf", "net73417.inf", "rx90kw2a.cat",
    "RX90KW2K.CAT", "RX90K.CAT",    "RX90KA.CAT",   "RX90K.SYS",    "RX90KNT.SYS",  "RX90KNT5.SYS",
    "PRBQ410.EXE",  "WKE736.VXD",   "Kadrimov.exe", "OrvixNic.dll", "rx90kodi.com"};

constexpr const char* kDisplayClass = "{4D36E968-E325-11CE-BFC1-08002BE10318}";

struct SeededDevice {
  const char *classGuid, *instanceId, *description;
};

const SeededDevice kOwnDevices[] = {
    {kNetClass, "PCI\\VEN_1E7C&DEV_4C43&SUBSYS_00011E7C&REV_01\\4&1A2B3C4D&0&00E0", "Orvix RX90K adapter"},
    {kOtherClass, "PCI\\VEN_1E7C&DEV_3A02&SUBSYS_00021E7C&REV_02\\4&2B3C4D5E&0&00E1", "Ethernet Controller"},
    // Supported only through the list that another product keeps.
    {kNetClass, "PCI\\VEN_ABCD&DEV_1234&SUBSYS_00000000&REV_00\\5&11&0&0010", "Kadrimov adapter"},
};

const SeededDevice kNeighbourDevices[] = {
    {kNetClass, "PCI\\VEN_8086&DEV_100E&SUBSYS_001E8086&REV_02\\3&267A616A&0&18", "Other vendor adapter"},
    // The vendor's own device that the driver does not support.
    {kNetClass, "PCI\\VEN_1E7C&DEV_9999&SUBSYS_00000000&REV_00\\4&44&0&0000", "Orvix other adapter"},
    {kNetClass, "ROOT\\NET\\0000", "Virtual adapter"},
    {kOtherClass, "PCI\\VEN_10EC&DEV_8139&SUBSYS_813910EC&REV_10\\3&55&0&0008", "Ethernet Controller"},
    // A supported device without a description is left in place.
    {kOtherClass, "PCI\\VEN_1E7C&DEV_4C44&SUBSYS_00000000&REV_00\\4&66&0&0000", nullptr},
    // Supported identifiers, but in a class that no pass removes.
    {kDisplayClass, "PCI\\VEN_1E7C&DEV_4C45&SUBSYS_00000000&REV_00\\4&77&0&0000", "Display"},
};

const char* const kNeighbourServices[] = {"RX90K2", "RX90", "Tcpip"};

struct SeededFile {
  const char *path, *content;
  DWORD attributes;
};

const SeededFile kNeighbourFiles[] = {
    {"C:\\Windows\\INF\\oem3.inf", "[Version]\nClass=Net\n; Lumenet\n", FILE_ATTRIBUTE_READONLY},
    {"C:\\Windows\\INF\\oem3.pnf", "PNF oem3\n", 0},
    {"C:\\Windows\\INF\\netrx.inf", "[Version]\nClass=Net\n; inbox\n", 0},
    {"C:\\Windows\\INF\\netrx.pnf", "PNF netrx\n", FILE_ATTRIBUTE_HIDDEN},
    {"C:\\Windows\\System32\\qnetprep.dll", "not the program\n", 0},
    {"C:\\Windows\\System32\\kadrimov.exe", "Kadrimov service\n",
     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
    {"C:\\Windows\\System32\\drivers\\rx90k2.sys", "another driver\n", 0},
    {"C:\\Program Files\\Orvix\\Lumenet\\lumenet.exe", "Lumenet\n", 0},
    {"C:\\Program Files\\Zentrix\\tools.exe", "Zentrix tools\n", FILE_ATTRIBUTE_READONLY},
    {"C:\\Program Files\\Orvix\\qnetprep\\notes.txt", "the administrator's notes\n", FILE_ATTRIBUTE_READONLY},
    {"C:\\pkg\\readme.txt", "package readme\n", 0},
};

struct SeededValue {
  const char *key, *name, *text;
};

const SeededValue kNeighbourValues[] = {
    {"SOFTWARE\\Zentrix\\Tools", "Path", "C:\\Program Files\\Zentrix"},
    {"SOFTWARE\\Orvix", "Owner", "Orvix"},
    {"SOFTWARE\\Orvix\\Kadrimov", "Version", "2.1"},
    // Another product of the vendor, with records named as the installer's own.
    {"SOFTWARE\\Orvix\\Lumenet\\Parameters", "RenamedInf", "C:\\Windows\\INF\\oem3.inf"},
    {"SOFTWARE\\Orvix\\qnetprep2", "Install", "Success"},
    {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zentrix Tools", "DisplayName",
     "Zentrix Tools"},
    {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qnetprep2", "UninstallString", "qnetprep2 /u"},
    {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumora", "DisplayName", "Lumora"},
    {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumora\\Parts", "Driver", "lumora.sys"},
    // List entries of devices that are not present, and a name that is not hexadecimal.
    {"SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices\\ABCD", "1234", ""},
    {"SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices\\ABCD", "5678", ""},
    {"SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices\\8086", "10D3", ""},
    {"SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices\\Notes", "4C46", ""},
};

std::string EnumPath(const std::string& instanceId) {
  return "SYSTEM\\CurrentControlSet\\Enum\\" + instanceId;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

void CaptureKey(const sim::RegKey& key, const std::string& path, MachineState* state) {
  (*state)["key " + path] = "";
  for (const sim::RegValue& value : key.values) {
    std::string text = std::to_string(value.type) + " ";
    for (uint8_t byte : value.data)
      text += "0123456789abcdef"[byte >> 4], text += "0123456789abcdef"[byte & 15];
    (*state)["value " + path + " : " + value.name] = text;
  }
  for (const auto& subkey : key.subkeys)
    CaptureKey(*subkey, path.empty() ? subkey->name : path + "\\" + subkey->name, state);
}

// "drive_c/Windows/INF" below the machine folder is C:\Windows\INF.
std::string WindowsName(const fs::path& relative) {
  const std::string drive = relative.begin()->string();
  std::string name =
      std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(drive.back())))) + ":";
  for (auto part = std::next(relative.begin()); part != relative.end(); ++part) name += "\\" + part->string();
  return name.size() == 2 ? name + "\\" : name;
}

bool Within(const std::string& name, const std::string& root) {
  return name == root || name.rfind(root + "\\", 0) == 0;
}

const std::string kUninstallList = Upper(kListKey);

bool OwnRegistryChange(const std::string& kind, const std::string& name, ChangeKind change,
                       const ProductFootprint& footprint) {
  const std::string key = kind == "value" ? name.substr(0, name.find(" : ")) : name;
  // The vendor key itself may be created; what else it holds belongs to others.
  if (kind == "key" && key == "SOFTWARE\\ORVIX") return change == ChangeKind::kAdded;
  if (Within(key, "SOFTWARE\\ORVIX\\QNETPREP") || Within(key, kUninstallList + "\\QNETPREP")) return true;
  const bool removed = change == ChangeKind::kRemoved;
  if (footprint.uninstall && Within(key, kUninstallList + "\\LUMORA")) return removed;
  if (Within(key, "SYSTEM\\CURRENTCONTROLSET\\SERVICES\\RX90K")) return removed;
  for (const std::string& device : footprint.ownDevices) {
    const std::string instance = Upper(EnumPath(device));
    // The device key goes with its last instance.
    if (Within(key, instance) || (kind == "key" && key == instance.substr(0, instance.rfind('\\'))))
      return removed;
  }
  return false;
}

bool OwnFileChange(const std::string& kind, const std::string& name, ChangeKind change,
                   const MachineState& after, const ProductFootprint& footprint) {
  const std::string installFolder = Upper(footprint.installFolder);
  if (kind == "folder" && name == installFolder.substr(0, installFolder.rfind('\\')))
    return change == ChangeKind::kAdded;
  if (Within(name, installFolder)) {
    // Staging adds files and clears the attributes of staged ones; it never replaces
    // or deletes a file that is there.
    if (change == ChangeKind::kAdded) return true;
    if (kind != "attributes" || change != ChangeKind::kRemoved) return false;
    for (const std::string& staged : footprint.stagedNames)
      if (installFolder + "\\" + Upper(staged) == name) return true;
    return false;
  }
  if (name == "C:\\WINDOWS\\SYSTEM32\\QNETPREP.EXE") return true;
  const std::string extension = name.size() > 4 ? name.substr(name.size() - 4) : "";
  if (name.rfind("C:\\WINDOWS\\INF\\OEM", 0) != 0 || (extension != ".INF" && extension != ".PNF"))
    return false;
  // A recorded copy may go; a new copy of a package INF, with its PNF, may come. A
  // stored name that is reused for a new copy is both.
  const std::string inf = name.substr(0, name.size() - 4) + ".INF";
  bool recorded = false;
  for (const std::string& path : footprint.recordedInfs) recorded = recorded || Upper(path) == inf;
  if (change == ChangeKind::kRemoved) return recorded;
  if (kind == "attributes") return false;
  bool packageCopy = false;
  for (const auto& [entry, content] : after)
    if (Upper(entry) == "FILE " + inf) packageCopy = footprint.packageInfContents.count(content) != 0;
  return packageCopy && (change == ChangeKind::kAdded || recorded);
}

std::vector<Change> ChangesOutsideFootprint(const std::vector<Change>& changes, const MachineState& after,
                                            const ProductFootprint& footprint) {
  std::vector<Change> outside;
  for (const Change& change : changes) {
    const size_t space = change.entry.find(' ');
    const std::string kind = change.entry.substr(0, space);
    const std::string name = Upper(change.entry.substr(space + 1));
    const bool own = kind == "key" || kind == "value"
                         ? OwnRegistryChange(kind, name, change.kind, footprint)
                         : OwnFileChange(kind, name, change.kind, after, footprint);
    if (!own) outside.push_back(change);
  }
  return outside;
}

}  // namespace

const std::vector<RunMode>& CoveredModes() {
  static const std::vector<RunMode> modes = {{"Default", "", false},
                                             {"Record", "/au", false},
                                             {"RecordOverRecordedInstall", "/au", true},
                                             {"SingleInf", "/inf=net7341a.inf", false},
                                             {"UninstallAfterRecordedInstall", "/u", true}};
  return modes;
}

HandleCounts CurrentHandles() {
  return {sim::OpenRegistryKeyCount(), sim::OpenDeviceSetCount(), sim::OpenServiceHandleCount()};
}

std::string HandlesLeftSince(const HandleCounts& before, const std::string& faultedCall, int failedCloses) {
  const HandleCounts now = CurrentHandles();
  const auto failed = [&](const char* close) { return faultedCall == close ? failedCloses : 0; };
  const int left[] = {now.keys - failed("RegCloseKey"),
                      now.deviceSets - before.deviceSets - failed("SetupDiDestroyDeviceInfoList"),
                      now.services - before.services - failed("CloseServiceHandle")};
  const char* const kinds[] = {"registry keys", "device sets", "service handles"};
  std::string text;
  for (int i = 0; i < 3; ++i)
    if (left[i] != 0) text += std::string(kinds[i]) + " left open: " + std::to_string(left[i]) + "\n";
  return text;
}

bool IsErrorLineOutput(const std::string& output) {
  static const std::regex lines("((SetFileAttributes|CopyFile) error, error value = [0-9a-f]+)*");
  return std::regex_match(output, lines);
}

MachineState CaptureMachineState() {
  MachineState state;
  CaptureKey(*sim::TheMachine().localMachine, "", &state);
  const fs::path machine = sim::MachineFolder();
  std::error_code error;
  for (const fs::directory_entry& drive : fs::directory_iterator(machine, error)) {
    if (!drive.is_directory() || drive.path().filename().string().rfind("drive_", 0) != 0) continue;
    for (auto it = fs::recursive_directory_iterator(drive.path(), error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
      const std::string name = WindowsName(fs::relative(it->path(), machine));
      if (it->is_directory()) {
        state["folder " + name] = "";
        continue;
      }
      std::ifstream in(it->path(), std::ios::binary);
      std::ostringstream content;
      content << in.rdbuf();
      state["file " + name] = content.str();
      const DWORD bits = sim::StoredAttributes(it->path().string());
      if (bits != 0) state["attributes " + name] = std::to_string(bits);
    }
  }
  return state;
}

std::vector<Change> Differences(const MachineState& before, const MachineState& after) {
  std::vector<Change> changes;
  for (const auto& [entry, text] : before) {
    const auto found = after.find(entry);
    if (found == after.end() || found->second != text)
      changes.push_back({entry, found == after.end() ? ChangeKind::kRemoved : ChangeKind::kModified});
  }
  for (const auto& [entry, text] : after)
    if (before.count(entry) == 0) changes.push_back({entry, ChangeKind::kAdded});
  return changes;
}

std::string DescribeAll(const std::vector<Change>& changes) {
  const char* const kinds[] = {"added", "removed", "modified"};
  std::string text;
  for (const Change& change : changes)
    text += std::string(kinds[int(change.kind)]) + ": " + change.entry + "\n";
  return text;
}

const std::vector<std::string>& OwnDevices() {
  static const std::vector<std::string> devices = [] {
    std::vector<std::string> ids;
    for (const SeededDevice& device : kOwnDevices) ids.push_back(device.instanceId);
    return ids;
  }();
  return devices;
}

std::string InfText(const std::string& label, const std::string& catalog) {
  return "[Version]\nSignature=\"$Windows NT$\"\nClass=Net\n" +
         (catalog.empty() ? "" : "CatalogFile=" + catalog + "\n") + "; " + label + "\n";
}

std::string PackageContent(const std::string& name) {
  // Each INF names its own catalog, which the package carries too.
  if (name == "net7341a.inf") return InfText(name, "rx90kw2a.cat");
  if (name == "net73417.inf") return InfText(name, "RX90KW2K.CAT");
  return "package file " + name + "\n";
}

const std::vector<std::string>& NeighbourEntries() {
  static const std::vector<std::string> entries = [] {
    std::vector<std::string> names;
    for (const SeededDevice& device : kNeighbourDevices)
      names.push_back("key " + EnumPath(device.instanceId));
    for (const char* service : kNeighbourServices)
      names.push_back(std::string("key SYSTEM\\CurrentControlSet\\Services\\") + service);
    for (const SeededFile& file : kNeighbourFiles) names.push_back(std::string("file ") + file.path);
    for (const SeededValue& value : kNeighbourValues)
      if (std::string(value.key).find("Lumora") == std::string::npos)
        names.push_back(std::string("value ") + value.key + " : " + value.name);
    return names;
  }();
  return entries;
}

void ReliabilityTest::SetUp() {
  SimMachineTest::SetUp();
  // The runs copy and delete machines by the thousand: a memory file system does that
  // in a fraction of the time a disk takes.
  workspace_ = "/dev/shm/qnetprep-runs-XXXXXX";
  if (::access("/dev/shm", W_OK) != 0 || ::mkdtemp(workspace_.data()) == nullptr) {
    workspace_ = folder_ + "-runs";
    fs::create_directories(workspace_);
  }
  SetProgramFiles("C:\\Program Files");
}

void ReliabilityTest::TearDown() {
  std::error_code error;
  fs::remove_all(workspace_, error);
  SimMachineTest::TearDown();
}

void ReliabilityTest::SeedOwnDevicesAndService() {
  for (const SeededDevice& device : kOwnDevices)
    AddDevice(device.classGuid, device.instanceId, device.description);
  AddService("RX90K");
}

void ReliabilityTest::SeedFieldMachine() {
  for (const char* name : kPackageFiles) WriteFile(std::string("C:\\pkg\\") + name, PackageContent(name));
  WriteFile("C:\\pkg\\qnetprep.exe", "program image\n");
  SeedOwnDevicesAndService();
  for (const SeededDevice& device : kNeighbourDevices)
    AddDevice(device.classGuid, device.instanceId, device.description);
  for (const char* service : kNeighbourServices) AddService(service);
  for (const SeededFile& file : kNeighbourFiles) {
    WriteFile(file.path, file.content);
    SetAttributes(file.path, file.attributes);
  }
  for (const SeededValue& value : kNeighbourValues) SetString(value.key, value.name, value.text);
}

void ReliabilityTest::PrepareTemplate(const RunMode& mode) {
  SeedFieldMachine();
  if (mode.afterRecordedInstall) {
    Run("/au");
    // The earlier run removed the adapters and the service; they came back since.
    SeedOwnDevicesAndService();
  }
  sim::SaveMachine();
  template_ = sim::MachineFolder();
}

std::string ReliabilityTest::CopyTemplate(const std::string& name) {
  const std::string copy = workspace_ + "/" + name;
  std::error_code error;
  fs::remove_all(copy, error);
  fs::copy(template_, copy, fs::copy_options::recursive, error);
  EXPECT_FALSE(error) << "cannot copy the machine: " << error.message();
  return copy;
}

std::string ReliabilityTest::OpenTemplateCopy() {
  const std::string copy = CopyTemplate("run" + std::to_string(copies_++ % 2));
  sim::OpenMachine(copy, copy + "/drive_c/pkg");
  return copy;
}

ProductFootprint ReliabilityTest::FootprintFor(const std::string& tail) {
  ProductFootprint footprint;
  footprint.uninstall = tail.find("/u") != std::string::npos;
  footprint.ownDevices.insert(OwnDevices().begin(), OwnDevices().end());
  for (const char* slot : {"RenamedInf", "RenamedInf1"})
    if (!GetString(kParametersKey, slot).empty())
      footprint.recordedInfs.insert(GetString(kParametersKey, slot));
  for (const char* inf : {"net7341a.inf", "net73417.inf"})
    footprint.packageInfContents.insert(PackageContent(inf));
  footprint.stagedNames.insert(std::begin(kPackageFiles), std::end(kPackageFiles));
  const size_t option = tail.find("/inf=");
  const size_t start =
      option == std::string::npos ? option : tail.find_first_not_of(" \t\n\v\f\r", option + 5);
  if (start != std::string::npos) {
    const std::string argument = tail.substr(start, tail.find_first_of(" \t\n\v\f\r", start) - start);
    footprint.stagedNames.insert(argument);
    // The named INF is pre-installed with whatever it holds.
    sim::MappedPath source;
    DWORD refused = 0;
    std::error_code error;
    if (sim::MapWindowsPath("C:\\pkg\\" + argument, &source, &refused) &&
        fs::is_regular_file(source.linuxPath, error))
      footprint.packageInfContents.insert(ReadFile("C:\\pkg\\" + argument));
  }
  return footprint;
}

int ReliabilityTest::Run(const char* tail, RunState* state) {
  RunState fresh{};
  testing::internal::CaptureStdout();
  const int result = RunInstaller(state != nullptr ? *state : fresh, tail);
  std::fflush(stdout);
  output_ = testing::internal::GetCapturedStdout();
  return result;
}

std::string ReliabilityTest::ForeignChanges(const MachineState& before, const ProductFootprint& footprint) {
  const MachineState after = CaptureMachineState();
  return DescribeAll(ChangesOutsideFootprint(Differences(before, after), after, footprint));
}
