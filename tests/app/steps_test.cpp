// The steps of a run on a small machine, each under the failure of one call. Each table row
// is one case; every failure names its row by its input and the call made to fail.
#include "app/resource_strings.h"
#include "cleanup/remove_installed_infs.h"
#include "devices/device_classes.h"
#include "devices/remove_devices.h"
#include "devices/supported_devices.h"
#include "install/install_inf.h"
#include "install/stage_package.h"
#include "platform/sim/machine_setup.h"
#include "tests/support/machine.h"

namespace {

using Names = std::vector<std::string>;
Names operator+(Names first, const Names& then) {
  first.insert(first.end(), then.begin(), then.end());
  return first;
}

const std::string kInf = "C:\\Windows\\INF\\", kStored = kInf + "oem0.inf";
const std::string kCatalog =
    "C:\\Windows\\System32\\catroot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\oem0.cat";
const std::string kList = "SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices\\";

// Kept: there, with the attributes it was given.
enum FileState { Gone, Kept };
void PrintTo(FileState state, std::ostream* out) {
  *out << (state == Gone ? "Gone" : "Kept");
}

class StepsTest : public MachineTest {
 protected:
  static std::string Pci(Text v, Text d) { return "PCI\\VEN_" + v + "&DEV_" + d + "&SUBSYS_0&REV_00\\3"; }
  void List(Text v, Text d, size_t data = 0) { SetBytes(kList + v, d, REG_SZ, std::string(data, 'v')); }
  using Pairs = std::vector<std::pair<uint32_t, uint32_t>>;
  static Pairs ReadList() {  // none: no list, and the count as it was
    uint32_t count = 777;
    DevicePair* list = ReadSupportedDeviceList(&count);
    if (list == nullptr && count != 777) ADD_FAILURE() << "no list, yet the count became " << count;
    Pairs pairs;
    for (uint32_t i = 0; list != nullptr && i < count; ++i)
      pairs.emplace_back(list[i].vendorId, list[i].deviceId);
    std::free(list);
    return pairs;
  }
  // The steps that a run took, in the order of their first call.
  static Names Steps() {
    Names steps;
    for (const auto& [name, detail] : sim::CallLog()) {
      std::string step = name == "SetupDiGetClassDevsA" ? "devices " + detail.substr(0, 9) : "";
      if (name == "GetProcAddress" && detail == "SetDefaultDllDirectories") step = "look up";
      if (name == "SetDefaultDllDirectories") step = "search " + detail;
      if (name == "SetDllDirectoryA") step = "no current folder";
      if (name == "RegQueryValueExA" && detail.find("Parameters:RenamedInf") != std::string::npos)
        step = "clean-up";
      if (name == "SHDeleteKeyA") step = "records removed";
      const size_t copied = detail.find(" style=0x0"), slash = detail.rfind('\\', copied);
      if (name == "SetupCopyOEMInfA" && copied != std::string::npos)
        step = "store " + detail.substr(slash + 1, copied - slash - 1);
      if (!step.empty() && std::find(steps.begin(), steps.end(), step) == steps.end()) steps.push_back(step);
    }
    return steps;
  }
  // A row's name: its input (long text by its length) and the call made to fail.
  static std::string Named(Text input, const Failing& fault) {
    const std::string shown =
        input.size() > 60 ? input.substr(0, 30) + "... (" + std::to_string(input.size()) + " characters)"
                          : input;
    return "\"" + shown + "\", " +
           (*fault.call ? "failing "s + fault.call + " on \"" + fault.on + "\"" : "no call failing");
  }
  // A recorded install's store: oem0.inf read-only, its PNF hidden and naming `from`, its catalog,
  // and oem1.inf installed from net73417.inf; an INF staged as single.inf.
  static std::string Pnf(Text from) { return "PNF\nSource=C:\\pkg\\" + from + "\n"; }
  void SeedStore(Text slot0, Text from) {
    Open();
    Write(kStored, "x", FILE_ATTRIBUTE_READONLY);
    Write(kInf + "oem0.pnf", Pnf(from), FILE_ATTRIBUTE_HIDDEN);
    Write(kCatalog, "x");
    Write(kInf + "oem1.inf", "x");
    Write(kInf + "oem1.pnf", Pnf("net73417.inf"));
    Write(kInstall + "single.inf"s, "staged");
    if (!slot0.empty()) SetBytes(kParameters, "RenamedInf", REG_SZ, slot0);
    // Slot 1 without its NUL: read into the buffer that slot 0 filled, it must not take its tail.
    SetBytes(kParameters, "RenamedInf1", REG_SZ, kInf + "oem1.inf");
    SetString(kEntry, "DisplayName", "x");
  }
  static Names Asked() {  // the stored names the system was asked to uninstall
    Names asked;
    for (const std::string& call : Calls("SetupUninstallOEMInfA"))
      asked.push_back(call.substr(0, call.find(' ')));
    return asked;
  }
  FileState State(Text path, DWORD attributes) {
    return Exists(path) && Attributes(path) == attributes ? Kept : Gone;
  }
};

// A command tail and a failing call; the steps the run takes, whether a stored INF is left.
struct ModeCase {
  const char* tail;
  Failing fault;
  Names steps;
  bool stored;
};

TEST_F(StepsTest, EveryModeHardensTheDllSearchThenClearsThenRunsItsOwnSteps) {
  const Names hardened = {"look up", "search 2048"}, devices = {"devices {4D36E972", "devices {4D36E97E"};
  const Names both = devices + Names{"clean-up", "store net7341a.inf", "store net73417.inf"};
  const ModeCase kCases[] = {
      {"", {}, hardened + both, true},
      {"/inf=x.inf", {}, hardened + devices + Names{"clean-up", "store x.inf"}, false},
      // Without strings the clean-up and the key removal give up; the device passes run.
      {"/u", Failing{"LoadStringA"}, hardened + devices, false},
      // Without the system's own call the search leaves out the current folder; the run goes on.
      {"", Failing{"GetModuleHandleA"}, Names{"no current folder"} + both, true},
      {"", Failing{"GetProcAddress"}, Names{"look up", "no current folder"} + both, true},
      {"", Failing{"SetDefaultDllDirectories"}, hardened + Names{"no current folder"} + both, true},
      {"", Failing{"SetDefaultDllDirectories", "", {0, true, 2}}, hardened + both, true},
  };
  for (const ModeCase& row : kCases) {
    SCOPED_TRACE(Named(row.tail, row.fault));
    Open();
    Write("C:\\pkg\\net7341a.inf", InfText("a"));
    SetString(kParameters, "RenamedInf", kStored);
    Fail(row.fault);
    EXPECT_EQ(Run(row.tail), 1);
    EXPECT_EQ(Steps(), row.steps);
    EXPECT_EQ(Exists(kStored), row.stored);
  }
}

// A failing call, with records or without: the install's result, whether the staged INF, the
// stored INF and the program's copy in the system folder exist, and the values it leaves.
struct InstallCase {
  Failing fault;
  bool record, result, staged, stored, selfCopy;
  std::string install, slot, displayName, uninstallString;
};

TEST_F(StepsTest, EachExitOfAnInstallLeavesWhatCameBeforeIt) {
  const std::string name = "Orvix adapter installation program", command = "qnetprep.exe /u";
  const InstallCase kCases[] = {
      {{}, false, true, true, true, false, "", "", "", ""},
      // Without "SOFTWARE" the install gives up, recorded or not.
      {Failing{"RegOpenKeyExA", "SOFTWARE"}, false, false, true, false, false, "", "", "", ""},
      {{}, true, true, true, true, true, "Success", kStored, name, command},
      {Failing{"SetupCopyOEMInfA", "style=0x0"}, true, false, true, false, false, "Fail", "", "", ""},
      {Failing{"RegCreateKeyExA", "Parameters"}, true, false, true, false, false, "", "", "", ""},
      {Failing{"RegSetValueExA", "Parameters:RenamedInf"}, true, false, true, true, false, "Success", "", "",
       ""},
      {Failing{"RegOpenKeyExA", "Uninstall"}, true, false, true, true, false, "Success", kStored, "", ""},
      {Failing{"RegCreateKeyExA", "Uninstall"}, true, false, true, true, false, "Success", kStored, "", ""},
      // Both values of the entry are written whatever the first write did.
      {Failing{"RegSetValueExA", ":DisplayName"}, true, false, true, true, false, "Success", kStored, "",
       command},
      {Failing{"RegSetValueExA", ":UninstallString"}, true, false, true, true, false, "Success", kStored,
       name, ""},
      // A current folder, "ProgramFiles" or system folder that fills its buffer is none; so is a
      // system folder left by an install before (the 300 below) too long to join with the name.
      {Failing{"GetCurrentDirectoryA"}, true, false, false, false, false, "", "", "", ""},
      {Failing{"GetCurrentDirectoryA", "", {0, true, MAX_PATH}}, true, false, false, false, false, "", "", "",
       ""},
      {Failing{"GetEnvironmentVariableA", "ProgramFiles", {0, true, MAX_PATH}}, true, true, true, true, true,
       "Success", kStored, name, command},
      {Failing{"GetSystemDirectoryA", "", {0, true, 512}}, true, true, true, true, false, "Success", kStored,
       name, command},
      {Failing{"GetSystemDirectoryA", "", {0, true, 300}}, true, true, true, true, false, "Success", kStored,
       name, command},
  };
  for (const InstallCase& row : kCases) {
    SCOPED_TRACE(Named(row.record ? "/au" : "", row.fault));
    Open();
    Write("C:\\pkg\\net7341a.inf", InfText("a", "rx90kw2a.cat"));
    Write("C:\\pkg\\rx90kw2a.cat", "catalog");
    Write("C:\\pkg\\qnetprep.exe", "program");
    RunState state{};
    state.RecordMode = row.record;
    const std::string before =
        row.fault.fault.result == 300 ? std::string(300, 's') : "C:\\Windows\\System32";
    std::memcpy(state.SystemFolder, before.c_str(), before.size() + 1);
    Fail(row.fault);
    bool installed = false;
    // As a run does it: the staging first, when the strings load.
    OutputOf([&] {
      if (LoadResourceStrings(state)) StagePackage(state);
      installed = InstallInf(state, "net7341a.inf");
    });
    EXPECT_EQ(installed, row.result);
    EXPECT_EQ(Exists(kInstall + "net7341a.inf"s), row.staged);
    EXPECT_EQ(Exists(kStored), row.stored);
    EXPECT_EQ(Exists(kSelfCopy), row.selfCopy);
    EXPECT_EQ(Str(kProduct, "Install"), row.install);
    EXPECT_EQ(Str(kParameters, "RenamedInf"), row.slot);
    EXPECT_EQ(Str(kEntry, "DisplayName"), row.displayName);
    EXPECT_EQ(Str(kEntry, "UninstallString"), row.uninstallString);
  }
  // With both slots taken a further stored INF could never be removed: none is stored.
  RunState state{};
  state.RecordMode = true;
  SetString(kParameters, "RenamedInf1", kInf + "oem8.inf");
  Write("C:\\pkg\\net73417.inf", InfText("b"));
  ASSERT_TRUE(LoadResourceStrings(state));
  ASSERT_TRUE(StagePackage(state));
  EXPECT_FALSE(InstallInf(state, "net73417.inf"));
  EXPECT_FALSE(Exists(kInf + "oem1.inf"));
}

// A command tail; whether the second INF is stored and the program copied to the system folder.
struct ShareCase {
  const char* tail;
  bool secondStored, selfCopied;
};

// The package on a share reached through an adapter that the clean-up removes: read before it.
TEST_F(StepsTest, ARunFromAShareThatTheRemovalCutsOffInstallsTheWholePackage) {
  const std::string adapter = Pci("1E7C", "4C43"), share = "N:\\pkg\\";
  const ShareCase kCases[] = {{"", true, false}, {"/au", true, true}, {"/inf=net73417.inf", false, false}};
  for (const ShareCase& row : kCases) {
    SCOPED_TRACE(Named(row.tail, {}));
    Open();
    AddDevice(kNet, adapter);
    for (const char* inf : {"net7341a.inf", "net73417.inf"}) Write(share + inf, InfText(inf));
    Write(share + "qnetprep.exe", "program");
    sim::TheMachine().currentDirectory = "N:\\pkg";
    sim::ResetSetup("N:\\pkg");
    sim::TheSetup().networkDrive = 'N';
    sim::TheSetup().networkAdapter = adapter;
    EXPECT_EQ(Run(row.tail), 1);
    EXPECT_TRUE(Exists(kStored));
    EXPECT_EQ(Exists(kInf + "oem1.inf"), row.secondStored);
    EXPECT_EQ(Read(kSelfCopy) == "program", row.selfCopied);
    // What the run stored it read before: by now the share is out of reach.
    EXPECT_EQ(Linux(share + "qnetprep.exe"), "");
  }
}

// Slot 0's text and the failing call; what the clean-up leaves of the stored copy oem0.inf
// (.inf read-only, .pnf hidden, catalog), the result, whether the records and the entry remain,
// the stored names the system was asked to uninstall, the standard output.
struct SlotCase {
  std::string slot;
  Failing fault;
  FileState inf, pnf, catalog;
  bool result, records, entry;
  Names asked;
  std::string output;
};

// What the copy that slot 0 names was installed from, as its PNF says, and the failing call;
// whether the copy is the package's, so that the clean-up removes it.
struct OwnerCase {
  std::string from;
  Failing fault;
  bool ours;
};

TEST_F(StepsTest, SlotsNameThePackagesStoredInfsOnlyAndTheSystemUninstallsThem) {
  const Names both = {"oem0.inf", "oem1.inf"}, second = {"oem1.inf"};
  const std::string error = "SetFileAttributes error, error value = ";
  const SlotCase kCases[] = {
      {"c:\\windows\\inf\\oem0.inf", {}, Gone, Gone, Gone, true, false, false, both, ""},
      // Only ".inf" turns into ".pnf": without the system's uninstall the PNF stays.
      {kInf + "oem0.INF", Failing{"SetupUninstallOEMInfA"}, Gone, Kept, Kept, true, false, false,
       Names{"oem0.INF", "oem1.inf"}, ""},
      {kInf + "oem9.inf", {}, Kept, Kept, Kept, true, false, false, second, ""},
      // A slot 0 that fills its 512 bytes without a NUL names nothing; the record goes all the same.
      {kStored + std::string(512 - kStored.size(), ' '), Failing{}, Kept, Kept, Kept, false, false, false,
       second, ""},
      {kStored, Failing{"LoadStringA"}, Kept, Kept, Kept, false, true, true, Names{}, ""},
      {kStored, Failing{"RegOpenKeyExA", "Uninstall"}, Gone, Gone, Gone, false, false, true, both, ""},
      {kStored, Failing{"GetWindowsDirectoryA"}, Kept, Kept, Kept, true, false, false, Names{}, ""},
      // Without the system's uninstall the catalog stays; the deletions go on.
      {kStored, Failing{"SetupUninstallOEMInfA"}, Gone, Gone, Kept, true, false, false, both, ""},
      {kStored, Failing{"SetFileAttributesA", "oem0.inf", {ERROR_ACCESS_DENIED}}, Kept, Gone, Kept, true,
       false, false, both, error + "5"},
      {kStored, Failing{"SetFileAttributesA", "oem0.pnf", {0x1F}}, Gone, Gone, Gone, true, false, false, both,
       error + "1f"},
  };
  for (const SlotCase& row : kCases) {
    SCOPED_TRACE(Named(row.slot, row.fault));
    SeedStore(row.slot, "net7341a.inf");
    Fail(row.fault);
    RunState state{};
    bool result = false;
    EXPECT_EQ(OutputOf([&] { result = RemoveInstalledInfs(state); }), row.output);
    EXPECT_EQ(State(kStored, FILE_ATTRIBUTE_READONLY), row.inf);
    EXPECT_EQ(State(kInf + "oem0.pnf", FILE_ATTRIBUTE_HIDDEN), row.pnf);
    EXPECT_EQ(State(kCatalog, 0), row.catalog);
    EXPECT_EQ(Asked(), row.asked);
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(Has(kProduct), row.records);
    EXPECT_EQ(Has(kEntry), row.entry);
  }
  // A slot 0 of another type names no file, even when its bytes spell one.
  SeedStore("", "net7341a.inf");
  SetBytes(kParameters, "RenamedInf", REG_BINARY, kStored + '\0');
  RunState binary{};
  EXPECT_FALSE(RemoveInstalledInfs(binary));
  EXPECT_EQ(State(kStored, FILE_ATTRIBUTE_READONLY), Kept);

  // The package's INFs in any case, or one staged in the install folder: a single-INF install
  // staged single.inf; the staged copy of gone.inf was deleted.
  const OwnerCase kOwners[] = {
      {"NET73417.INF", {}, true},
      {"gone.inf", {}, false},
      {"..", {}, false},
      // Too long to join with the install folder: no staged copy can bear it.
      {std::string(240, 'n') + ".inf", {}, false},
      {"single.inf", Failing{"GetEnvironmentVariableA", "ProgramFiles", {0, true, MAX_PATH}}, true},
      {"single.inf", Failing{"GetFileAttributesA"}, false},
      {"net7341a.inf", Failing{"SetupGetInfInformationA", "oem0"}, false},
      {"net7341a.inf", Failing{"SetupQueryInfOriginalFileInformationA", "oem0"}, false},
  };
  for (const OwnerCase& row : kOwners) {
    SCOPED_TRACE(Named(row.from, row.fault));
    SeedStore(kStored, row.from);
    Fail(row.fault);
    RunState state{};
    RemoveInstalledInfs(state);
    EXPECT_EQ(State(kStored, FILE_ATTRIBUTE_READONLY), row.ours ? Gone : Kept);
    EXPECT_EQ(Asked(), row.ours ? both : second);
  }
}

TEST_F(StepsTest, TheListIsReadInRegistryOrderWithinItsCapacitiesAndAsCounted) {
  EXPECT_EQ(ReadList(), Pairs{});
  List("Notes", "0001");
  List("1234", "notes");
  EXPECT_EQ(ReadList(), Pairs{});
  // A vendor name of 128 characters ends the walk, a device name of 512 or data of 513 the vendor.
  for (const std::string& vendor :
       {"0001"s, "ABC"s, "0002x"s, "0003" + std::string(123, 'e'), "FFFE" + std::string(124, 'f'), "FFFF"s})
    List(vendor, "0001");
  for (const std::string& device :
       {"00"s, "00a1"s, "00A2" + std::string(507, 'x'), "0003" + std::string(508, 'x'), "0004"s})
    List("BEEF", device);
  List("CAFE", "0001", 511);
  List("CAFE", "0002", 512);
  List("CAFE", "0003", 513);
  List("CAFE", "0004");
  EXPECT_EQ(ReadList(),
            (Pairs{{1, 1}, {2, 1}, {3, 1}, {0xBEEF, 0xA1}, {0xBEEF, 0xA2}, {0xCAFE, 1}, {0xCAFE, 2}}));
  Open();
  List("1111", "0001");
  List("2222", "0002");
  List("2222", "0003");
  // The opens: the list in each view, each vendor to count, then to fill. A vendor that opens
  // for the count but not for the fill leaves fewer entries than were counted.
  sim::FailCall("RegOpenKeyExA", {}, 6);
  EXPECT_EQ(ReadList(), (Pairs{{0x1111, 1}}));
  // An entry added after the count (the counting pass enumerates three times) is left out.
  Fail({});
  sim::BeforeCall("RegEnumKeyExA", 4, [this] { List("1111", "0009"); });
  EXPECT_EQ(ReadList(), (Pairs{{0x1111, 1}, {0x1111, 9}, {0x2222, 2}}));
  // A 32-bit component keeps its list in the 32-bit view, which 64-bit Windows keeps apart.
  SetBytes("SOFTWARE\\WOW6432Node\\Orvix\\Kadrimov\\SupportedDevices\\3333", "0003", REG_SZ, "");
  Fail({});
  EXPECT_EQ(ReadList(), (Pairs{{0x1111, 1}, {0x1111, 9}, {0x2222, 2}, {0x2222, 3}, {0x3333, 3}}));
  const std::string view = " (32-bit view)", path = "Software\\Orvix\\Kadrimov\\SupportedDevices";
  const Names vendors = {path + "\\1111", path + "\\2222", path + "\\3333" + view};
  EXPECT_EQ(Calls("RegOpenKeyExA"), (Names{path, path + view} + vendors + vendors));
  SetString("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", "PROCESSOR_ARCHITECTURE",
            "x86");
  EXPECT_EQ(ReadList(), (Pairs{{0x1111, 1}, {0x1111, 9}, {0x2222, 2}, {0x2222, 3}}));
  // Without the list's key name nothing is opened, not even by a name left in the buffer.
  Fail({"LoadStringA"});
  EXPECT_EQ(ReadList(), Pairs{});
  EXPECT_EQ(Calls("RegOpenKeyExA"), Names{});
}

// A failing call; what the pass returns, how many of the devices it should remove stay, how
// often the class installer was asked to remove one, and whether the driver's service stays.
struct PassCase {
  Failing fault;
  int32_t removed, left;
  size_t asked;
  bool service;
};

TEST_F(StepsTest, ThePassRemovesWhatEachDevicesOwnIdentifierNamesAndSurvivesFailures) {
  RunState state{};
  ASSERT_TRUE(LoadResourceStrings(state));
  // Listed in an order that the lookup cannot search unsorted.
  for (const char* device : {"0007", "0005", "0003", "0001", "0000"}) List("1E7D", device);
  List("1E7C", "0000");
  List("0000", "0000");
  // 4095 characters fit with the NUL; the device field of a short identifier is 0 past its end.
  // Only PCI identifiers count, their labels in any case: other buses have other numbers there.
  const std::string removed[] = {
      Pci("1E7C", "4C43"),        Pci("1E7D", "0001"),
      Pci("1E7D", "0003"),        Pci("1E7D", "0005"),
      Pci("1E7D", "0007"),        "PCI\\VEN_1E7C&DEV_4C43&" + std::string(4071, 'f') + "\\1",
      Pci("1E7C", "4C46"),        "PCI\\VEN_1E7C&DEV_\\1",
      "pci\\ven_1e7c&dev_4c40\\1"};
  const std::string kept[] = {
      Pci("1E7D", "0002"),         Pci("1E7C", "9999"),
      Pci("1E7C", "4C47"),         "PCI\\VEN_1E7C&DEV_4C41&" + std::string(4072, 't') + "\\1",
      "PCI\\VEN_1E7C\\1",          "PCI\\VEN_1E7D&SUB_0000\\1",
      "XYZ\\VEN_1E7C&DEV_4C40\\1", "USB\\VID_1E7C&PID_4C43\\5&1",
      "ROOT\\NET\\0001",           "SWD\\MSRRAS\\MS_NDISWANIP"};
  const PassCase kCases[] = {
      {{}, 9, 0, 9, false},
      {Failing{"SetupDiGetClassDevsA"}, 0, 9, 0, true},
      // Whether the system takes the parameters or not, the class installer removes the device.
      {Failing{"SetupDiSetClassInstallParamsA"}, 9, 0, 9, false},
      {Failing{"SetupDiCallClassInstaller", "VEN_1E7D&DEV_0003"}, 8, 1, 9, false},
  };
  for (const PassCase& row : kCases) {
    SCOPED_TRACE(Named("", row.fault));
    for (const std::string& id : removed)
      AddDevice(kNet, id, id == Pci("1E7C", "4C46") ? std::string(4095, 'd').c_str() : "a");
    for (const std::string& id : kept)
      AddDevice(kNet, id, id == Pci("1E7C", "4C47") ? std::string(4096, 'd').c_str() : "a");
    AddDevice(kOther, Pci("1E7C", "4C42"));
    AddService("RX90K");
    Fail(row.fault);
    EXPECT_EQ(RemoveDevicesOfClass(state, GUID_DEVCLASS_NET), row.removed);
    EXPECT_EQ(
        std::count_if(std::begin(removed), std::end(removed), [this](auto& id) { return HasDevice(id); }),
        row.left);
    for (const std::string& id : kept) EXPECT_TRUE(HasDevice(id)) << id.substr(0, 30);
    EXPECT_TRUE(HasDevice(Pci("1E7C", "4C42")));
    // One removal through the class installer per supported device, none without it.
    const Names asked = Calls("SetupDiCallClassInstaller");
    EXPECT_EQ(asked.size(), row.asked);
    for (const std::string& call : asked) EXPECT_EQ(call.rfind("0x5 PCI", 0), 0u) << call.substr(0, 30);
    EXPECT_EQ(Calls("SetupDiRemoveDevice").size(), 0u);
    EXPECT_EQ(Has("SYSTEM\\CurrentControlSet\\Services\\RX90K"), row.service);
  }
}

}  // namespace
