#include "tests/reliability/reliability_machine.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <regex>

#include "app/run_installer.h"
#include "platform/sim/file_attributes.h"
#include "platform/sim/paths.h"

namespace {

namespace fs = std::filesystem;

const char* const kPackageFiles[] = {
    "Net73417.din", "7341XDEL.EXE", "7341XNDI.DLL", "net7341a.inf", "net73417.inf", "rx90kw2a.cat",
    "RX90KW2K.CAT", "RX90K.CAT",    "RX90KA.CAT",   "RX90K.SYS",    "RX90KNT.SYS",  "RX90KNT5.SYS",
    "PRBQ410.EXE",  "WKE736.VXD",   "Kadrimov.exe", "OrvixNic.dll", "rx90kodi.com"};

struct SeededDevice {
  const char* classGuid;
  const char* instanceId;
  const char* description;
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
  const char* path;
  const char* content;
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
  const char* key;
  const char* name;
  const char* text;
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

std::string EnumPath(const char* instanceId) {
  return std::string("SYSTEM\\CurrentControlSet\\Enum\\") + instanceId;
}

// The runs copy and delete machines by the thousand: a memory file system does that in
// a fraction of the time a disk takes. Beside the test's machine when there is none.
std::string MakeWorkspace(const std::string& machineFolder) {
  std::string pattern = "/dev/shm/qnetprep-runs-XXXXXX";
  if (::access("/dev/shm", W_OK) == 0 && ::mkdtemp(pattern.data()) != nullptr) return pattern;
  const std::string beside = machineFolder + "-runs";
  fs::create_directories(beside);
  return beside;
}

}  // namespace

void PrintTo(const RunMode& mode, std::ostream* out) {
  *out << mode.name << " (\"" << mode.tail << "\")";
}

std::string ModeTestName(const ::testing::TestParamInfo<RunMode>& info) {
  std::string name;
  for (const char* c = info.param.name; *c != '\0'; ++c) {
    if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
  }
  return name;
}

std::string InfText(const std::string& label, const std::string& catalog) {
  std::string text = "[Version]\nSignature=\"$Windows NT$\"\nClass=Net\n";
  if (!catalog.empty()) text += "CatalogFile=" + catalog + "\n";
  return text + "; " + label + "\n";
}

std::string PackageContent(const std::string& name) {
  // Each INF names its own catalog, which the package carries too.
  if (name == "net7341a.inf") return InfText(name, "rx90kw2a.cat");
  if (name == "net73417.inf") return InfText(name, "RX90KW2K.CAT");
  return "package file " + name + "\n";
}

const std::vector<RunMode>& CoveredModes() {
  static const std::vector<RunMode> modes = {
      {"default", "", false},
      {"record", "/au", false},
      {"record over recorded install", "/au", true},
      {"single INF", "/inf=net7341a.inf", false},
      {"uninstall after recorded install", "/u", true},
  };
  return modes;
}

const std::vector<std::string>& OwnDevices() {
  static const std::vector<std::string> devices = [] {
    std::vector<std::string> ids;
    for (const SeededDevice& device : kOwnDevices) ids.push_back(device.instanceId);
    return ids;
  }();
  return devices;
}

const std::vector<std::string>& NeighbourEntries() {
  static const std::vector<std::string> entries = [] {
    std::vector<std::string> names;
    for (const SeededDevice& device : kNeighbourDevices)
      names.push_back("key " + EnumPath(device.instanceId));
    for (const char* service : kNeighbourServices) {
      names.push_back(std::string("key SYSTEM\\CurrentControlSet\\Services\\") + service);
    }
    for (const SeededFile& file : kNeighbourFiles) names.push_back(std::string("file ") + file.path);
    for (const SeededValue& value : kNeighbourValues) {
      if (std::string(value.key).find("Uninstall\\Lumora") != std::string::npos) continue;
      names.push_back(std::string("value ") + value.key + " : " + value.name);
    }
    return names;
  }();
  return entries;
}

void ReliabilityTest::SetUp() {
  SimMachineTest::SetUp();
  workspace_ = MakeWorkspace(folder_);
  setenv("ProgramFiles", "C:\\Program Files", 1);
}

void ReliabilityTest::TearDown() {
  std::error_code error;
  fs::remove_all(workspace_, error);
  SimMachineTest::TearDown();
}

void ReliabilityTest::SeedPackage() {
  for (const char* name : kPackageFiles) WriteFile(std::string("C:\\pkg\\") + name, PackageContent(name));
  WriteFile("C:\\pkg\\qnetprep.exe", "program image\n");
}

void ReliabilityTest::SeedOwnDevicesAndService() {
  for (const SeededDevice& device : kOwnDevices)
    AddDevice(device.classGuid, device.instanceId, device.description);
  AddService("RX90K");
}

void ReliabilityTest::SeedNeighbours() {
  for (const SeededDevice& device : kNeighbourDevices) {
    AddDevice(device.classGuid, device.instanceId, device.description);
  }
  for (const char* service : kNeighbourServices) AddService(service);
  for (const SeededFile& file : kNeighbourFiles) {
    WriteFile(file.path, file.content);
    sim::StoreAttributes(LinuxPath(file.path), file.attributes);
  }
  for (const SeededValue& value : kNeighbourValues) SetString(value.key, value.name, value.text);
}

void ReliabilityTest::SeedFieldMachine() {
  SeedPackage();
  SeedOwnDevicesAndService();
  SeedNeighbours();
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

ProductFootprint ReliabilityTest::FootprintFor(const RunMode& mode) {
  ProductFootprint footprint;
  footprint.uninstall = std::string(mode.tail).find("/u") != std::string::npos;
  footprint.ownDevices.insert(OwnDevices().begin(), OwnDevices().end());
  for (const char* slot : {"RenamedInf", "RenamedInf1"}) {
    const std::string recorded = GetString(kParametersKeyPath, slot);
    if (!recorded.empty()) footprint.recordedInfs.insert(recorded);
  }
  for (const char* inf : {"net7341a.inf", "net73417.inf"})
    footprint.packageInfContents.insert(PackageContent(inf));
  footprint.stagedNames.insert(std::begin(kPackageFiles), std::end(kPackageFiles));
  const std::string tail = mode.tail;
  const size_t option = tail.find("/inf=");
  if (option != std::string::npos) {
    const size_t start = tail.find_first_not_of(" \t\n\v\f\r", option + 5);
    if (start != std::string::npos) {
      const std::string argument = tail.substr(start, tail.find_first_of(" \t\n\v\f\r", start) - start);
      footprint.stagedNames.insert(argument);
      // The named INF is pre-installed with whatever it holds.
      std::error_code error;
      sim::MappedPath source;
      DWORD refused = 0;
      if (sim::MapWindowsPath("C:\\pkg\\" + argument, &source, &refused) &&
          fs::is_regular_file(source.linuxPath, error)) {
        footprint.packageInfContents.insert(ReadFile("C:\\pkg\\" + argument));
      }
    }
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

HandleCounts CurrentHandles() {
  return {sim::OpenRegistryKeyCount(), sim::OpenDeviceSetCount(), sim::OpenServiceHandleCount()};
}

std::string HandlesLeftSince(const HandleCounts& before, const std::string& faultedCall, int failedCloses) {
  const HandleCounts after = CurrentHandles();
  const int keys = after.keys - (faultedCall == "RegCloseKey" ? failedCloses : 0);
  const int sets = after.deviceSets - before.deviceSets -
                   (faultedCall == "SetupDiDestroyDeviceInfoList" ? failedCloses : 0);
  const int services =
      after.services - before.services - (faultedCall == "CloseServiceHandle" ? failedCloses : 0);
  std::string left;
  if (keys != 0) left += "registry keys left open: " + std::to_string(keys) + "\n";
  if (sets != 0) left += "device sets left open: " + std::to_string(sets) + "\n";
  if (services != 0) left += "service handles left open: " + std::to_string(services) + "\n";
  return left;
}

bool IsErrorLineOutput(const std::string& output) {
  static const std::regex lines("((SetFileAttributes|CopyFile) error, error value = [0-9a-f]+)*");
  return std::regex_match(output, lines);
}

std::string ReliabilityTest::ForeignChanges(const MachineState& before, const ProductFootprint& footprint) {
  const MachineState after = CaptureMachineState();
  return DescribeAll(ChangesOutsideFootprint(Differences(before, after), after, footprint));
}
