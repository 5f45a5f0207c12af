// The steps of a run on a small machine, each under the failure of one call.
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

// A recorded install's store, then files beside and outside it, with the attributes of kSeeded.
const std::string kInf = "C:\\Windows\\INF\\", kSystem = "C:\\Windows\\System32\\",
                  kDrivers = kSystem + "drivers\\";
const std::string kCatalog = kSystem + "catroot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\oem0.cat";
const std::string kStore[] = {kInf + "oem0.inf",         kInf + "oem0.pnf",   kCatalog,
                              kInf + "oem1.inf",         kInf + "sub\\z.inf", kInf + "sub\\z.pnf",
                              kDrivers + "x.inf",        kDrivers + "x.pnf",  "C:\\Program Files\\y.inf",
                              "C:\\Program Files\\y.pnf"};
const std::string kSeeded = "1200001414", kList = "SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices\\";

class StepsTest : public MachineTest {
 protected:
  static std::string Pci(Text v, Text d) { return "PCI\\VEN_" + v + "&DEV_" + d + "&SUBSYS_0&REV_00\\3"; }
  void List(Text v, Text d, size_t data = 0) { SetBytes(kList + v, d, REG_SZ, std::string(data, 'v')); }
  std::string ReadList() {
    uint32_t count = 777;
    DevicePair* list = ReadSupportedDeviceList(&count);
    std::string pairs = list == nullptr ? "none " + std::to_string(count) : "";
    for (uint32_t i = 0; list != nullptr && i < count; ++i)
      pairs += testing::PrintToString(std::make_pair(list[i].vendorId, list[i].deviceId));
    std::free(list);
    return pairs;
  }
  static std::string Trace() {
    std::string trace;
    for (const auto& [name, detail] : sim::CallLog()) {
      const size_t style = detail.find(" style=0x0");
      std::string word = name == "GetProcAddress" ? "lookup" : name == "SetDllDirectoryA" ? "no-cwd" : "";
      if (name == "SetDefaultDllDirectories" || name == "SetupDiGetClassDevsA") word = detail.substr(0, 9);
      if (name == "RegQueryValueExA" && detail.find("Parameters:RenamedInf") != std::string::npos)
        word = "cleanup";
      if (name == "SHDeleteKeyA") word = "uninstall";
      if (name == "SetupCopyOEMInfA" && style != std::string::npos)
        word = detail.substr(detail.rfind('\\') + 1, style - detail.rfind('\\') - 1);
      if (!word.empty() && trace.find(word) == std::string::npos) trace += word + " ";
    }
    return trace;
  }
  // The PNF that the store keeps beside a copy names what it was installed from.
  static std::string Pnf(Text original) { return "PNF\nSource=C:\\pkg\\" + original + "\n"; }
  void SeedStore(const std::string& slot0, const std::string& original0 = "net7341a.inf") {
    Open();
    for (size_t i = 0; i < kSeeded.size(); ++i)
      Write(kStore[i], i == 1 ? Pnf(original0) : "x", kSeeded[i] - '0');
    Write(kInf + "oem1.pnf", Pnf("net73417.inf"));
    if (!slot0.empty()) SetBytes(kParameters, "RenamedInf", REG_SZ, slot0);
    // Slot 1 without its NUL: read into the buffer that slot 0 filled, it must not take its tail.
    SetBytes(kParameters, "RenamedInf1", REG_SZ, "C:\\Windows\\INF\\oem1.inf");
    SetString(kEntry, "DisplayName", "x");
  }
  std::string Gone() {
    std::string gone;
    for (const std::string& path : kStore) gone += Exists(path) ? std::to_string(Attributes(path)) : "-";
    return gone;
  }
};

TEST_F(StepsTest, EveryModeHardensTheDllSearchThenClearsThenRunsItsOwnSteps) {
  const std::string hardened = "lookup 2048 ", cleared = "{4D36E972 {4D36E97E cleanup ";
  const std::string both = cleared + "net7341a.inf net73417.inf ";
  const std::tuple<const char*, Failing, std::string> cases[] = {
      {"", {}, hardened + both},
      {"/inf=x.inf", {}, hardened + cleared + "x.inf "},
      // Without strings the clean-up and the key removal give up; the device passes run.
      {"/u", {"LoadStringA"}, hardened + "{4D36E972 {4D36E97E "},
      // Without the system's own call the search leaves out the current folder; the run goes on.
      {"", {"GetModuleHandleA"}, "no-cwd " + both},
      {"", {"GetProcAddress"}, "lookup no-cwd " + both},
      {"", {"SetDefaultDllDirectories"}, hardened + "no-cwd " + both},
      {"", {"SetDefaultDllDirectories", "", {0, true, 2}}, hardened + both}};
  for (const auto& [tail, failing, trace] : cases) {
    Open();
    Write("C:\\pkg\\net7341a.inf", InfText("a"));
    SetString(kParameters, "RenamedInf", "C:\\Windows\\INF\\oem0.inf");
    Fail(failing);
    EXPECT_EQ(Run(tail), 1);
    EXPECT_EQ(Trace(), trace) << tail << " " << failing.call;
    EXPECT_EQ(Exists("C:\\Windows\\INF\\oem0.inf"), trace.find("net7341a") != std::string::npos);
  }
}

TEST_F(StepsTest, EachExitOfAnInstallLeavesWhatCameBeforeIt) {
  // What an install left, in the order it makes things.
  const auto left = [this](bool result) {
    std::string made = Bits({result, Exists(kInstall + "net7341a.inf"s), Exists("C:\\Windows\\INF\\oem0.inf"),
                             Exists(kSelfCopy)});
    for (const char* value : {"Install", "RenamedInf", "DisplayName", "UninstallString"})
      made += " " + Str(value[0] == 'I' ? kProduct : value[0] == 'R' ? kParameters : kEntry, value);
    return made;
  };
  const std::string entry = " Orvix adapter installation program qnetprep.exe /u";
  const std::string recorded = " Success C:\\Windows\\INF\\oem0.inf", none = "    ";
  const std::tuple<bool, Failing, std::string> cases[] = {
      {false, {}, "1110" + none},
      // Without "SOFTWARE" the install gives up, recorded or not.
      {false, {"RegOpenKeyExA", "SOFTWARE"}, "0100" + none},
      {true, {}, "1111" + recorded + entry},
      {true, {"SetupCopyOEMInfA", "style=0x0"}, "0100 Fail   "},
      {true, {"RegCreateKeyExA", "Parameters"}, "0100" + none},
      {true, {"RegSetValueExA", ":RenamedInf"}, "0110 Success   "},
      {true, {"RegOpenKeyExA", "Uninstall"}, "0110" + recorded + "  "},
      {true, {"RegCreateKeyExA", "Uninstall"}, "0110" + recorded + "  "},
      // Both values of the entry are written whatever the first write did.
      {true, {"RegSetValueExA", ":DisplayName"}, "0110" + recorded + "  qnetprep.exe /u"},
      {true,
       {"RegSetValueExA", ":UninstallString"},
       "0110" + recorded + " Orvix adapter installation program "},
      // A current folder, "ProgramFiles" or system folder that fills its buffer is none; a missing
      // "ProgramFiles" is the usual folder.
      {true, {"GetCurrentDirectoryA"}, "0000" + none},
      {true, {"GetCurrentDirectoryA", "", {0, true, MAX_PATH}}, "0000" + none},
      {true, {"GetEnvironmentVariableA", "ProgramFiles"}, "1111" + recorded + entry},
      {true, {"GetEnvironmentVariableA", "ProgramFiles", {0, true, MAX_PATH}}, "1111" + recorded + entry},
      {true, {"GetSystemDirectoryA", "", {0, true, 512}}, "1110" + recorded + entry},
      {true, {"GetSystemDirectoryA", "", {0, true, 300}}, "1110" + recorded + entry}};
  for (const auto& [record, failing, expected] : cases) {
    Open();
    Write("C:\\pkg\\net7341a.inf", InfText("a", "rx90kw2a.cat")), Write("C:\\pkg\\rx90kw2a.cat", "catalog");
    Write("C:\\pkg\\qnetprep.exe", "program");
    RunState state{};
    state.RecordMode = record;
    // Left by an install before: a folder, or text too long to join with the program's name.
    const std::string before = failing.fault.result == 300 ? std::string(300, 's') : "C:\\Windows\\System32";
    std::memcpy(state.SystemFolder, before.c_str(), before.size() + 1);
    Fail(failing);
    bool installed = false;
    // As a run does it: the staging first, when the strings load.
    OutputOf([&] {
      if (LoadResourceStrings(state)) StagePackage(state);
      installed = InstallInf(state, "net7341a.inf");
    });
    EXPECT_EQ(left(installed), expected) << failing.call << " " << failing.on;
  }
  RunState state{};
  state.RecordMode = true;
  SetString(kParameters, "RenamedInf1", "C:\\Windows\\INF\\oem8.inf");
  Write("C:\\pkg\\net73417.inf", InfText("b"));
  ASSERT_TRUE(LoadResourceStrings(state) && StagePackage(state));
  EXPECT_FALSE(InstallInf(state, "net73417.inf") || Exists("C:\\Windows\\INF\\oem1.inf"));
}

// The package on a share reached through an adapter that the clean-up removes: read before it.
TEST_F(StepsTest, ARunFromAShareThatTheRemovalCutsOffInstallsTheWholePackage) {
  const std::string adapter = Pci("1E7C", "4C43"), share = "N:\\pkg\\";
  const struct {
    const char* tail;
    bool secondStored, selfCopied;
  } cases[] = {{"", true, false}, {"/au", true, true}, {"/inf=net73417.inf", false, false}};
  for (const auto& [tail, secondStored, selfCopied] : cases) {
    Open();
    AddDevice(kNet, adapter);
    for (const char* inf : {"net7341a.inf", "net73417.inf"}) Write(share + inf, InfText(inf));
    Write(share + "qnetprep.exe", "program");
    sim::TheMachine().currentDirectory = "N:\\pkg";
    sim::ResetSetup("N:\\pkg");
    sim::TheSetup().networkDrive = 'N';
    sim::TheSetup().networkAdapter = adapter;
    EXPECT_EQ(Run(tail), 1);
    EXPECT_TRUE(Exists(kInf + "oem0.inf")) << tail;
    EXPECT_EQ(Exists(kInf + "oem1.inf"), secondStored) << tail;
    EXPECT_EQ(Read(kSelfCopy) == "program", selfCopied) << tail;
    // What the run stored it read before: by now the share is out of reach.
    EXPECT_EQ(Linux(share + "qnetprep.exe"), "") << tail;
  }
}

TEST_F(StepsTest, SlotsNameThePackagesStoredInfsOnlyAndTheSystemUninstallsThem) {
  const std::string stored = "C:\\Windows\\INF\\oem0.inf", both = "oem0.inf oem1.inf ";
  const std::string removed = "----001414 " + both, untouched = "120-001414 oem1.inf ",
                    unread = kSeeded + " ", error = "SetFileAttributes error, error value = ";
  // Slot ("": none), failing call; what is gone, what the system was asked, result, records, entry.
  const std::tuple<std::string, Failing, std::string, std::string> cases[] = {
      {"c:\\windows\\inf\\oem0.inf", {}, removed + "100", ""},
      // Only ".inf" turns into ".pnf"; a file already gone is not reported.
      {"C:\\Windows\\INF\\oem0.INF", {}, "----001414 oem0.INF oem1.inf 100", ""},
      // No stored copy: nothing to ask the system about. (Slots naming files elsewhere, and damaged
      // or missing slots, are end-to-end scenarios.)
      {"C:\\Windows\\INF\\oem9.inf", {}, untouched + "100", ""},
      // A slot 0 that fills its 512 bytes without a NUL names nothing; the record goes all the same.
      {stored + std::string(512 - stored.size(), ' '), {}, untouched + "000", ""},
      {stored, {"LoadStringA"}, unread + "011", ""},
      {stored, {"RegOpenKeyExA", "Uninstall"}, removed + "001", ""},
      {stored, {"GetWindowsDirectoryA"}, unread + "100", ""},
      // Without the system's uninstall the catalog stays; the deletions go on.
      {stored, {"SetupUninstallOEMInfA"}, "--0-001414 " + both + "100", ""},
      {stored,
       {"SetFileAttributesA", "oem0.inf", {ERROR_ACCESS_DENIED}},
       "1-0-001414 " + both + "100",
       error + "5"},
      {stored, {"SetFileAttributesA", "oem0.pnf", {0x1F}}, removed + "100", error + "1f"}};
  for (const auto& [slot0, failing, left, output] : cases) {
    SeedStore(slot0);
    Fail(failing);
    RunState state{};
    bool result = false;
    EXPECT_EQ(OutputOf([&] { result = RemoveInstalledInfs(state); }), output) << slot0 << " " << failing.call;
    std::string asked;
    for (const std::string& call : Calls("SetupUninstallOEMInfA"))
      asked += call.substr(0, call.find(" flags=0x1")) + " ";
    EXPECT_EQ(Gone() + " " + asked + Bits({result, Has(kProduct), Has(kEntry)}), left)
        << slot0 << " " << failing.call;
  }
  // A slot 0 of another type names no file, even when its bytes spell one.
  SeedStore("");
  SetBytes(kParameters, "RenamedInf", REG_BINARY, stored + '\0');
  Fail({});
  RunState binary{};
  EXPECT_FALSE(RemoveInstalledInfs(binary));
  EXPECT_EQ(Gone(), "120-001414");
  // A path without the ".inf" ending has no PNF: nothing else is deleted for it.
  SeedStore(kInf + "oem0.INF"), Fail({});
  RunState state{};
  RemoveInstalledInfs(state);
  EXPECT_EQ(Calls("DeleteFileA"),
            (std::vector<std::string>{kInf + "oem0.INF", kInf + "oem1.inf", kInf + "oem1.pnf"}));
  // What slot 0's copy was installed from ("": no PNF says), the failing call; whether it is ours.
  // A single-INF install staged single.inf; the staged copy of gone.inf was deleted.
  const std::tuple<std::string, Failing, bool> owners[] = {
      {"NET73417.INF", {}, true},
      {"gone.inf", {}, false},
      {"folder.inf", {}, false},
      // Too long to join with the install folder: no staged copy can bear it.
      {std::string(240, 'n') + ".inf", {}, false},
      {"", {}, false},
      {"..", {}, false},
      {"single.inf", {"GetEnvironmentVariableA", "ProgramFiles"}, true},
      {"single.inf", {"GetEnvironmentVariableA", "ProgramFiles", {0, true, MAX_PATH}}, true},
      {"single.inf", {"GetFileAttributesA"}, false},
      {"net7341a.inf", {"SetupGetInfInformationA", "oem0"}, false},
      {"net7341a.inf", {"SetupQueryInfOriginalFileInformationA", "oem0"}, false}};
  for (const auto& [original, failing, ours] : owners) {
    SeedStore(kInf + "oem0.inf", original);
    if (original.empty()) std::filesystem::remove(Linux(kInf + "oem0.pnf"));
    Write(kInstall + "single.inf"s, "staged");
    std::filesystem::create_directories(Linux(kInstall + "folder.inf"s));
    Fail(failing);
    OutputOf([&] { RemoveInstalledInfs(state); });
    EXPECT_EQ(Gone()[0], ours ? '-' : '1') << original << " " << failing.call;
    EXPECT_EQ(Calls("SetupUninstallOEMInfA").size(), ours ? 2u : 1u) << original << " " << failing.call;
  }
}

TEST_F(StepsTest, TheListIsReadInRegistryOrderWithinItsCapacitiesAndAsCounted) {
  EXPECT_EQ(ReadList(), "none 777");
  List("Notes", "0001"), List("1234", "notes");
  EXPECT_EQ(ReadList(), "none 777");
  // A vendor name of 128 characters ends the walk, a device name of 512 or data of 513 the vendor.
  for (const std::string& vendor :
       {"0001"s, "ABC"s, "0002x"s, "0003" + std::string(123, 'e'), "FFFE" + std::string(124, 'f'), "FFFF"s})
    List(vendor, "0001");
  for (const std::string& device :
       {"00"s, "00a1"s, "00A2" + std::string(507, 'x'), "0003" + std::string(508, 'x'), "0004"s})
    List("BEEF", device);
  List("CAFE", "0001", 511), List("CAFE", "0002", 512), List("CAFE", "0003", 513), List("CAFE", "0004");
  EXPECT_EQ(ReadList(), "(1, 1)(2, 1)(3, 1)(48879, 161)(48879, 162)(51966, 1)(51966, 2)");
  Open();
  List("1111", "0001"), List("2222", "0002"), List("2222", "0003");
  // Opens: the list in each view, each vendor to count, then to fill, which fills at most what
  // was counted.
  Fail({});
  sim::FailCall("RegOpenKeyExA", {}, 6);
  EXPECT_EQ(ReadList(), "(4369, 1)");
  // A vendor's entry that comes after the count (the counting pass enumerates three times).
  Fail({}), sim::BeforeCall("RegEnumKeyExA", 4, [this] { List("1111", "0009"); });
  EXPECT_EQ(ReadList(), "(4369, 1)(4369, 9)(8738, 2)");
  // A 32-bit component keeps its list in the 32-bit view, which 64-bit Windows keeps apart.
  const std::string list32 = "SOFTWARE\\WOW6432Node\\Orvix\\Kadrimov\\SupportedDevices\\";
  SetBytes(list32 + "3333", "0003", REG_SZ, ""), Fail({});
  EXPECT_EQ(ReadList(), "(4369, 1)(4369, 9)(8738, 2)(8738, 3)(13107, 3)");
  const std::string view = " (32-bit view)", path = "Software\\Orvix\\Kadrimov\\SupportedDevices";
  EXPECT_EQ(
      Calls("RegOpenKeyExA"),
      (std::vector<std::string>{path, path + view, path + "\\1111", path + "\\2222", path + "\\3333" + view,
                                path + "\\1111", path + "\\2222", path + "\\3333" + view}));
  SetString("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", "PROCESSOR_ARCHITECTURE",
            "x86");
  EXPECT_EQ(ReadList(), "(4369, 1)(4369, 9)(8738, 2)(8738, 3)");
  // Without the list's key name nothing is opened, not even by a name left in the buffer.
  Fail({"LoadStringA"});
  EXPECT_EQ(ReadList(), "none 777");
  EXPECT_EQ(Calls("RegOpenKeyExA").size(), 0u);
}

TEST_F(StepsTest, ThePassRemovesWhatEachDevicesOwnIdentifierNamesAndSurvivesFailures) {
  RunState state{};
  ASSERT_TRUE(LoadResourceStrings(state));
  // Listed in an order that the lookup cannot search unsorted.
  for (const char* device : {"0007", "0005", "0003", "0001", "0000"}) List("1E7D", device);
  List("1E7C", "0000"), List("0000", "0000");
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
  // The failing call; what the pass returns; how many that it should remove stay; the service.
  const std::tuple<Failing, int32_t, int32_t, bool> cases[] = {
      {{}, 9, 0, false},
      {{"SetupDiGetClassDevsA"}, 0, 9, true},
      // Whether the system takes the parameters or not, the class installer removes the device.
      {{"SetupDiSetClassInstallParamsA"}, 9, 0, false},
      {{"SetupDiCallClassInstaller", "VEN_1E7D&DEV_0003"}, 8, 1, false}};
  for (const auto& [failing, counted, left, service] : cases) {
    for (const std::string& id : removed)
      AddDevice(kNet, id, id == Pci("1E7C", "4C46") ? std::string(4095, 'd').c_str() : "a");
    for (const std::string& id : kept)
      AddDevice(kNet, id, id == Pci("1E7C", "4C47") ? std::string(4096, 'd').c_str() : "a");
    AddDevice(kOther, Pci("1E7C", "4C42"));
    AddService("RX90K");
    Fail(failing);
    EXPECT_EQ(RemoveDevicesOfClass(state, GUID_DEVCLASS_NET), counted) << failing.call;
    EXPECT_EQ(
        std::count_if(std::begin(removed), std::end(removed), [this](auto& id) { return HasDevice(id); }),
        left);
    for (const std::string& id : kept) EXPECT_TRUE(HasDevice(id)) << id.substr(0, 30);
    EXPECT_TRUE(HasDevice(Pci("1E7C", "4C42")));
    // One removal through the class installer per supported device, none without it.
    const std::vector<std::string> asked = Calls("SetupDiCallClassInstaller");
    EXPECT_EQ(asked.size(), failing.call == "SetupDiGetClassDevsA"s ? 0u : 9u) << failing.call;
    EXPECT_EQ(
        std::count_if(asked.begin(), asked.end(), [](auto& call) { return call.rfind("0x5 PCI", 0) == 0; }),
        static_cast<int32_t>(asked.size()));
    EXPECT_EQ(Calls("SetupDiRemoveDevice").size(), 0u);
    EXPECT_EQ(Has("SYSTEM\\CurrentControlSet\\Services\\RX90K"), service) << failing.call;
  }
}

}  // namespace
