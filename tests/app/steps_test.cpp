// The steps of a run on a small machine, each under the failure of one call. Each table row
// is one case; every failure names its row by its input and the call made to fail.
#include "app/resource_strings.h"
#include "cleanup/remove_installed_infs.h"
#include "devices/device_classes.h"
#include "devices/remove_devices.h"
#include "devices/supported_devices.h"
#include "install/self_copy.h"
#include "install/stage_package.h"
#include "platform/sim/machine_setup.h"
#include "platform/text.h"
#include "tests/support/machine.h"

namespace {

using Names = std::vector<std::string>;

const std::string kInf = "C:\\Windows\\INF\\", kStored = kInf + "oem0.inf";
const std::string kCatalog =
    "C:\\Windows\\System32\\catroot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\oem0.cat";
const std::string kList = "SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices\\";

// Kept: there, with the attributes it was given; Cleared: there, its attributes cleared.
enum FileState { Gone, Kept, Cleared };
void PrintTo(FileState state, std::ostream* out) {
  *out << (state == Gone ? "Gone" : state == Kept ? "Kept" : "Cleared");
}

class StepsTest : public MachineTest {
 protected:
  static std::string Pci(Text v, Text d) { return "PCI\\VEN_" + v + "&DEV_" + d + "&SUBSYS_0&REV_00\\3"; }
  void List(Text v, Text d, size_t data = 0) { SetBytes(kList + v, d, REG_SZ, std::string(data, 'v')); }
  using Pairs = std::vector<std::pair<uint32_t, uint32_t>>;
  static Pairs ReadList() {
    uint32_t count = 0;
    DevicePair* list = ReadSupportedDeviceList(&count);
    Pairs pairs;
    for (uint32_t i = 0; list != nullptr && i < count; ++i)
      pairs.emplace_back(list[i].vendorId, list[i].deviceId);
    std::free(list);
    return pairs;
  }
  // A row's name: its input (long text by its length) and the call made to fail.
  static std::string Named(Text input, const Failing& fault) {
    const std::string shown =
        input.size() > 60 ? input.substr(0, 30) + "... (" + std::to_string(input.size()) + " characters)"
                          : input;
    return "\"" + shown + "\", " + Describe(fault);
  }
  // A recorded install's store: oem0.inf read-only and cut short, its PNF hidden and naming `from`, its
  // catalog, and oem1.inf, empty, from net73417.inf; a folder named folder.inf in the install folder.
  static std::string Pnf(Text from) { return "PNF\nSource=C:\\pkg\\" + from + "\n"; }
  void SeedStore(Text slot0, Text from) {
    Open();
    Write(kStored, "[Version", FILE_ATTRIBUTE_READONLY);
    if (!from.empty()) Write(kInf + "oem0.pnf", Pnf(from), FILE_ATTRIBUTE_HIDDEN);
    Write(kCatalog, "x");
    Write(kInf + "oem1.inf", "");
    Write(kInf + "oem1.pnf", Pnf("net73417.inf"));
    std::filesystem::create_directories(Linux(kInstall + "folder.inf"s));
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
    if (!Exists(path)) return Gone;
    return sim::StoredAttributes(Linux(path)) == attributes ? Kept : Cleared;
  }
};

// Where kernel32 cannot restrict the DLL search to the system's folders, the search leaves out the
// current folder instead, and the run goes on, also when that fails too.
const char* const kUnhardened[] = {"GetModuleHandleA", "GetProcAddress", "SetDefaultDllDirectories"};

TEST_F(StepsTest, WithoutTheSystemsOwnSearchTheCurrentFolderIsLeftOut) {
  for (const char* call : kUnhardened) {
    SCOPED_TRACE(Named("", {call}));
    Open();
    Write("C:\\pkg\\net7341a.inf", InfText("a"));
    Write("C:\\pkg\\net73417.inf", InfText("b"));
    Fail({call});
    sim::FailCallOn("SetDllDirectoryA", "", {});
    EXPECT_EQ(Run(""), 1);
    EXPECT_EQ(Calls("SetDllDirectoryA"), Names{""});
    EXPECT_TRUE(Exists(kStored));
  }
}

// A failing call during an install over an earlier recorded one (an older package, its adapter back):
// whether the earlier install was cleared (its adapter removed), what "Install" says, which package the
// stored copy in slot 0 holds, whether the Add/Remove entry carries the version and the system folder
// gets the program (over an older, read-only one staged).
enum Earlier { Stays, Replaced };
enum Version { NoVersion, HasVersion };
enum SelfCopy { NoSelfCopy, Copied };
struct InstallCase {
  Failing fault;
  const char* tail;
  Earlier earlier;
  std::string install, slot0;  // slot0: "old", "new", "" (no slot)
  Version version;
  SelfCopy selfCopy;
};

TEST_F(StepsTest, NothingOfTheEarlierInstallGoesBeforeEveryInfIsInTheStore) {
  const sim::Fault filled = {0, true, MAX_PATH};
  const Failing second = {"SetupCopyOEMInfA", "net73417.inf style=0x0"};
  const Failing noProgramFiles = {"GetEnvironmentVariableA", "ProgramFiles", filled};
  const InstallCase kCases[] = {
      // fault, tail, the earlier install, "Install", slot 0's package, the entry's version, the self-copy
      // The new package's INFs go in: the earlier install is replaced.
      {{}, "/au", Replaced, "Success", "new", HasVersion, Copied},
      // Without "SOFTWARE", its strings, the product key or the current folder nothing goes into the store;
      // where the product key can be made, "Install" says so.
      {{"RegOpenKeyExA", "SOFTWARE"}, "/au", Stays, "Success", "old", HasVersion, NoSelfCopy},
      {{"RegCreateKeyExA", "SOFTWARE\\Orvix"}, "/au", Stays, "Success", "old", HasVersion, NoSelfCopy},
      {{"LoadStringA"}, "/au", Stays, "Success", "old", HasVersion, NoSelfCopy},
      {{"RegCreateKeyExA", "Orvix\\qnetprep"}, "/au", Stays, "Success", "old", HasVersion, NoSelfCopy},
      {{"GetCurrentDirectoryA"}, "/au", Stays, "Fail", "old", HasVersion, NoSelfCopy},
      {{"GetCurrentDirectoryA", "", filled}, "/au", Stays, "Fail", "old", HasVersion, NoSelfCopy},
      // Refused: an INF with text before its first section, one whose catalog the package's list lacks.
      {{}, "/au /inf=early.inf", Stays, "Fail", "old", HasVersion, NoSelfCopy},
      {{}, "/au /inf=extra.inf", Stays, "Fail", "old", HasVersion, NoSelfCopy},
      // The second INF refused: the first, new to the store, leaves it again; outside RecordMode no trace.
      {second, "/au", Stays, "Fail", "old", HasVersion, NoSelfCopy},
      {second, "", Stays, "Success", "old", HasVersion, NoSelfCopy},
      // Past the clean-up a record that cannot be written is missing; the rest of the entry is written.
      // An Add/Remove list that cannot be opened keeps the earlier entry.
      {{"RegCreateKeyExA", "Parameters"}, "/au", Replaced, "", "", NoVersion, NoSelfCopy},
      {{"RegOpenKeyExA", "Uninstall"}, "/au", Replaced, "Success", "new", HasVersion, NoSelfCopy},
      {{"RegSetValueExA", ":DisplayName"}, "/au", Replaced, "Success", "new", HasVersion, NoSelfCopy},
      // Without "ProgramFiles" the usual folder serves. A read-only self-copy that stays so is not replaced.
      {noProgramFiles, "/au", Replaced, "Success", "new", HasVersion, Copied},
      {{"SetFileAttributesA", "System32"}, "/au", Replaced, "Success", "new", HasVersion, NoSelfCopy},
  };
  const std::string adapter = Pci("1E7C", "4C43");
  const auto package = [this](Text label) {
    Write("C:\\pkg\\net7341a.inf", InfText("a " + label, "rx90kw2a.cat"));
    Write("C:\\pkg\\net73417.inf", InfText("b " + label));
    Write("C:\\pkg\\qnetprep.exe", "program " + label, FILE_ATTRIBUTE_READONLY);
  };
  for (const InstallCase& row : kCases) {
    SCOPED_TRACE(Named(row.tail, row.fault));
    Open();
    Write("C:\\pkg\\rx90kw2a.cat", "catalog");
    Write("C:\\pkg\\extra.inf", InfText("c", "extra.cat"));
    Write("C:\\pkg\\extra.cat", "catalog");
    Write("C:\\pkg\\early.inf", "text\n" + InfText("early"));
    Write("C:\\net7341a.inf", InfText("in the root"));
    package("old");
    ASSERT_EQ(Run("/au"), 1);
    AddDevice(kNet, adapter);
    Write(kInstall + "qnetprep.exe"s, "older", FILE_ATTRIBUTE_READONLY);
    package("new");
    Fail(row.fault);
    EXPECT_EQ(Run(row.tail), 1);
    EXPECT_EQ(HasDevice(adapter) ? Stays : Replaced, row.earlier);
    EXPECT_EQ(Str(kProduct, "Install"), row.install);
    const std::string slot0 = Slurp(Linux(Str(kParameters, "RenamedInf")));
    EXPECT_EQ(slot0.empty() ? "" : slot0.find("; a new") != std::string::npos ? "new" : "old", row.slot0);
    EXPECT_EQ(Str(kEntry, "DisplayVersion") == "0.0.3.6" ? HasVersion : NoVersion, row.version);
    EXPECT_EQ(Slurp(Linux(kSelfCopy)) == "program new" ? Copied : NoSelfCopy, row.selfCopy);
    EXPECT_EQ(Slurp(Linux(kInstall + "net7341a.inf"s)).find("in the root"), std::string::npos);
    // The new copies stay in the store only once the earlier install is cleared.
    EXPECT_EQ(Exists(kInf + "oem2.inf"), row.earlier == Replaced);
  }
  // A system folder too long to join with the program's name takes no self-copy.
  RunState state{};
  ASSERT_TRUE(LoadResourceStrings(state));
  std::string(300, 's').copy(state.SystemFolder, sizeof state.SystemFolder - 1);
  TextCopy(state.InstallFolder, kInstall);
  Fail({"GetSystemDirectoryA", "", {0, true, 300}});
  CopySelfToSystemFolder(state);
  EXPECT_EQ(Calls("CopyFileA"), Names{});
}

// Where the package lies (N: is a share reached through the adapter that the clean-up removes),
// the length of the "ProgramFiles" folder and the tail; how many INFs the store holds, whether the
// install folder holds the program, and whether the system folder does.
enum Image { NoImage, Staged };
struct FolderCase {
  const char* package;
  size_t programFiles;
  const char* tail;
  int stored;
  Image image;
  SelfCopy selfCopy;
};

// What a run stores it read before the removal; a path that would pass MAX_PATH is not made.
TEST_F(StepsTest, ARunReadsThePackageBeforeTheRemovalAndMakesNoPathThatWouldNotFit) {
  const std::string adapter = Pci("1E7C", "4C43");
  const FolderCase kCases[] = {
      // package folder, length of "ProgramFiles", tail, INFs stored, the staged image, the self-copy
      {"N:\\pkg", 16, "/au", 2, Staged, Copied},
      // At 238 characters a.inf fits the install folder, the program does not; from 244 there is no install
      // folder (the folder with its backslash, the product's, the vendor's do not fit).
      {"C:\\pkg", 254, "/au /inf=a.inf", 0, NoImage, NoSelfCopy},
      {"C:\\pkg", 245, "/au /inf=a.inf", 0, NoImage, NoSelfCopy},
      {"C:\\pkg", 244, "/au /inf=a.inf", 0, NoImage, NoSelfCopy},
      {"C:\\pkg", 243, "/au /inf=a.inf", 0, NoImage, NoSelfCopy},
      {"C:\\pkg", 238, "/au /inf=a.inf", 1, NoImage, NoSelfCopy},
      {"C:\\pkg", 231, "/au /inf=a.inf", 1, Staged, Copied},
  };
  for (const FolderCase& row : kCases) {
    const std::string package = row.package + "\\"s,
                      programFiles = "C:\\" + std::string(row.programFiles - 3, 'p');
    SCOPED_TRACE(Named(package + " " + row.tail, {}) + ", ProgramFiles of " +
                 std::to_string(row.programFiles));
    Open();
    AddDevice(kNet, adapter);
    for (const char* inf : {"net7341a.inf", "net73417.inf", "a.inf"}) Write(package + inf, InfText(inf));
    Write(package + "qnetprep.exe", "program");
    std::filesystem::create_directories(Linux(programFiles));
    setenv("ProgramFiles", programFiles.c_str(), 1);
    sim::TheMachine().currentDirectory = row.package;
    sim::ResetSetup(row.package);
    sim::TheSetup().networkDrive = 'N';
    sim::TheSetup().networkAdapter = adapter;
    EXPECT_EQ(Run(row.tail), 1);
    EXPECT_EQ(Exists(kStored) + Exists(kInf + "oem1.inf"), row.stored);
    EXPECT_EQ(Exists(programFiles + "\\Orvix\\qnetprep\\qnetprep.exe") ? Staged : NoImage, row.image);
    EXPECT_EQ(Slurp(Linux(kSelfCopy)) == "program" ? Copied : NoSelfCopy, row.selfCopy);
    EXPECT_EQ(Linux(package + "qnetprep.exe").empty(), row.package[0] == 'N');
  }
}

// What lies where the vendor folder and the product folder go before a recorded install (nothing, a file,
// a folder with the descriptor given as SDDL, or one that another program deletes as its descriptor is read
// or set; links are the scenarios'), and the call made to fail; whether the package is staged (and with it
// the INF stored and the adapter removed), and the product folder's descriptor after the run ("": none).
enum Folder { Refused, Used };
struct TakeOverCase {
  std::string vendor, product;
  Failing fault;
  Folder folder;
  std::string descriptor;
};

TEST_F(StepsTest, TheInstallFolderIsTakenOnlyWhereNoOneElseMayWrite) {
  const std::string other = "S-1-5-21-7-7-7-1001", vendor = "C:\\Program Files\\Orvix";
  const std::string ours =
      "O:S-1-5-32-544D:P(A;OICI;0x1f01ff;;;S-1-5-18)(A;OICI;0x1f01ff;;;S-1-5-32-544)"
      "(A;OICI;0x1200a9;;;S-1-5-32-545)";
  const std::string othersOnly = "O:" + other + "D:(A;OICI;0x1f01ff;;;" + other + ")";
  const std::string denied = "O:S-1-5-32-544D:(A;;0x80000;;;S-1-5-32-544)(D;;0x80000;;;S-1-1-0)";
  const TakeOverCase kCases[] = {
      // the vendor folder, the product folder, fault, the install folder, its descriptor after the run
      {"", "", {}, Used, ours},
      {"", "O:" + other + "D:(A;OICI;FA;;;WD)", {}, Used, ours},
      {"", "O:" + other + "D:(A;OICI;0x10000000;;;BA)", {}, Used, ours},
      {"", "O:" + other + "D:NO_ACCESS_CONTROL", {}, Used, ours},
      // Without WRITE_OWNER granted (an entry for what the folder holds only, or one that Everyone's denial
      // outweighs, grants nothing) it is not taken; nor where the system refuses, or cannot make ours.
      {"", othersOnly, {}, Refused, othersOnly},
      {"", "O:BAD:(A;IO;0x80000;;;BA)", {}, Refused, "O:S-1-5-32-544D:(A;IO;0x80000;;;S-1-5-32-544)"},
      {"", denied, {}, Refused, denied},
      {"", othersOnly, {"ConvertStringSecurityDescriptorToSecurityDescriptorA"}, Refused, othersOnly},
      {"",
       "O:BAD:(A;OICI;FA;;;BA)",
       {"SetNamedSecurityInfoA"},
       Refused,
       "O:S-1-5-32-544D:(A;OICI;0x1f01ff;;;S-1-5-32-544)"},
      {"", "gone", {}, Refused, ""},
      {"gone", "", {}, Refused, ""},
      // An existing vendor folder stays as it is: used with Windows' owner and writers and entries that grant
      // others nothing on it; refused with another owner or writer, or an unreadable descriptor or entry.
      {"O:S-1-5-80-956008885-3425003120-1813128437-2779224233-3052453580D:(A;OICIIO;FA;;;BU)(D;OICI;FA;;;WD)"
       "(A;OICI;0x1200a9;;;WD)",
       "",
       {},
       Used,
       ours},
      {"O:" + other + "D:(A;OICI;0x1200a9;;;WD)", "", {}, Refused, ""},
      {"O:BAD:(A;OICI;0x1301ff;;;WD)", "", {}, Refused, ""},
      {"O:SYD:(A;OICI;GW;;;BU)", "", {}, Refused, ""},
      {"O:SYD:(XA;OICI;0x1200a9;;;WD)", "", {}, Refused, ""},
      {"O:SYD:NO_ACCESS_CONTROL", "", {}, Refused, ""},
      {"O:SYD:(A;OICI;0x1200a9;;;WD)", "", {"GetNamedSecurityInfoA"}, Refused, ""},
      {"O:SYD:(A;OICI;0x1200a9;;;WD)", "", {"GetAce"}, Refused, ""},
      {"D:(A;OICI;0x1200a9;;;WD)", "", {}, Refused, ""},
      {"file", "", {}, Refused, ""},
  };
  for (const TakeOverCase& row : kCases) {
    SCOPED_TRACE(Named("vendor " + row.vendor + ", product " + row.product, row.fault));
    Open();
    Write("C:\\pkg\\net7341a.inf", InfText("a", "rx90kw2a.cat"));
    Write("C:\\pkg\\rx90kw2a.cat", "catalog");
    Write("C:\\pkg\\qnetprep.exe", "program");
    AddDevice(kNet, Pci("1E7C", "4C43"));
    const auto seed = [this](Text path, Text what, const char* reading) {
      if (what.empty()) return;
      std::filesystem::create_directories(sim::LinuxParent(Linux(path)));
      if (what == "file") Write(path, "a file where the folder goes");
      if (what == "file") return;
      std::filesystem::create_directories(Linux(path));
      if (what == "gone") return sim::BeforeCall(reading, 1, [=] { std::filesystem::remove(Linux(path)); });
      sim::Security security;
      ASSERT_TRUE(sim::ParseSddl(what, &security));
      sim::StoreSecurity(Linux(path), security);
    };
    Fail(row.fault);
    seed(vendor, row.vendor, "GetNamedSecurityInfoA");
    seed(kInstall, row.product, "SetNamedSecurityInfoA");
    EXPECT_EQ(Run("/au /inf=net7341a.inf"), 1);
    EXPECT_EQ(Exists(kInstall + "net7341a.inf"s) ? Used : Refused, row.folder);
    EXPECT_EQ(Str(kProduct, "Install"), row.folder == Used ? "Success" : "Fail");
    EXPECT_EQ(Exists(kSelfCopy), row.folder == Used);
    EXPECT_EQ(HasDevice(Pci("1E7C", "4C43")), row.folder == Refused)
        << "the adapter, removed only once the INF is stored";
    const auto kept = sim::KeptSecurity().find(Linux(kInstall));
    EXPECT_EQ(kept == sim::KeptSecurity().end() ? "" : sim::FormatSddl(kept->second), row.descriptor);
  }
  // Started again from the install folder, with its path in other capitals, the run deletes nothing that it
  // would stage from there.
  Open();
  Write("C:\\pkg\\net7341a.inf", InfText("a"));
  Write("C:\\pkg\\qnetprep.exe", "program");
  Run("/au /inf=net7341a.inf");
  const std::string from = "C:\\PROGRAM FILES\\orvix\\QNETPREP";
  sim::TheMachine().currentDirectory = from;
  sim::ResetSetup(from);
  Run("/au /inf=net7341a.inf");
  EXPECT_EQ(Slurp(Linux(kInstall + "qnetprep.exe"s)), "program");
  EXPECT_TRUE(Exists(kInstall + "net7341a.inf"s));
}

// Slot 0's text and the failing call; what the clean-up leaves of the stored copy oem0.inf
// (.inf read-only, .pnf hidden, catalog), the result, what is left of the records and of the entry,
// the stored names the system was asked to uninstall, the standard output.
enum Result { Fails, Succeeds };
struct SlotCase {
  std::string slot;
  Failing fault;
  FileState inf, pnf, catalog;
  Result result;
  FileState records, entry;
  Names asked;
  std::string output;
};

TEST_F(StepsTest, SlotsNameThePackagesStoredInfsOnlyAndTheSystemUninstallsThem) {
  const Names both = {"oem0.inf", "oem1.inf"}, second = {"oem1.inf"}, upper = {"oem0.INF", "oem1.inf"};
  const std::string error = "SetFileAttributes error, error value = ";
  const std::string unterminated = kStored + std::string(512 - kStored.size(), ' ');
  // The attributes of the stored copy cannot be cleared; its PNF is gone already, which is not told.
  const Failing infDenied = {"SetFileAttributesA", "oem0.inf", {ERROR_ACCESS_DENIED}};
  const Failing pnfGone = {"SetFileAttributesA", "oem0.pnf", {ERROR_FILE_NOT_FOUND}};
  const SlotCase kCases[] = {
      // slot 0, fault, then the stored INF, its PNF, its catalog, the result, records, entry, asked, output
      // Only ".inf" turns into ".pnf": without the system's uninstall the PNF stays.
      {kInf + "oem0.INF", {"SetupUninstallOEMInfA"}, Gone, Kept, Kept, Succeeds, Gone, Gone, upper, ""},
      // A slot 0 that fills its 512 bytes without a NUL names nothing; the record goes all the same.
      {unterminated, {}, Kept, Kept, Kept, Fails, Gone, Gone, second, ""},
      {"", {}, Kept, Kept, Kept, Fails, Gone, Gone, second, ""},
      {kStored, {"LoadStringA"}, Kept, Kept, Kept, Fails, Kept, Kept, Names{}, ""},
      {kStored, {"RegOpenKeyExA", "Parameters"}, Kept, Kept, Kept, Fails, Kept, Kept, Names{}, ""},
      {kStored, {"RegOpenKeyExA", "Uninstall"}, Gone, Gone, Gone, Fails, Gone, Kept, both, ""},
      {kStored, infDenied, Kept, Gone, Kept, Succeeds, Gone, Gone, both, error + "5"},
      {kStored, pnfGone, Gone, Gone, Gone, Succeeds, Gone, Gone, both, ""},
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
    EXPECT_EQ(result ? Succeeds : Fails, row.result);
    EXPECT_EQ(Has(kProduct) ? Kept : Gone, row.records);
    EXPECT_EQ(Has(kEntry) ? Kept : Gone, row.entry);
  }
  // A slot 0 of another type names no file, even when its bytes spell one.
  SeedStore("", "net7341a.inf");
  SetBytes(kParameters, "RenamedInf", REG_BINARY, kStored + '\0');
  RunState state{};
  EXPECT_FALSE(RemoveInstalledInfs(state));
  EXPECT_EQ(State(kStored, FILE_ATTRIBUTE_READONLY), Kept);
  // Original names, as the copy's PNF says, that make it no INF of the package: no PNF, one that just begins
  // as a package INF's, one that climbs, a folder's in the install folder, one too long to join with the
  // install folder, which no staged copy can bear; last, any name where "ProgramFiles" leaves no room.
  const std::string kNotOurs[] = {"", "net7341a.inf.old", "..", "folder.inf", std::string(240, 'n') + ".inf"};
  for (const std::string& from : kNotOurs) {
    SCOPED_TRACE(Named(from, {}));
    SeedStore(kStored, from);
    RemoveInstalledInfs(state);
    EXPECT_EQ(State(kStored, FILE_ATTRIBUTE_READONLY), Kept);
    EXPECT_EQ(Asked(), second);
  }
  // A staged a.inf in a folder that another account owns, the vendor's or the product's, is none of ours.
  for (const std::string folder : {"C:\\Program Files\\Orvix", kInstall}) {
    SeedStore(kStored, "a.inf");
    Write(kInstall + "a.inf"s, "x");
    sim::Security others;
    ASSERT_TRUE(sim::ParseSddl("O:S-1-5-21-7-7-7-1001D:(A;OICI;0x1200a9;;;WD)", &others));
    sim::StoreSecurity(Linux(folder), others);
    RemoveInstalledInfs(state);
    EXPECT_EQ(Asked(), second) << "a.inf in a folder of another's: " << folder;
  }
  for (const size_t length : {250, 255}) {  // too long for the product's folder, or the vendor's
    SeedStore(kStored, "a.inf");
    setenv("ProgramFiles", ("C:\\" + std::string(length, 'p')).c_str(), 1);
    RemoveInstalledInfs(state);
    EXPECT_EQ(Asked(), second) << "a ProgramFiles of " << length << " characters";
  }
}

TEST_F(StepsTest, TheListIsReadInRegistryOrderWithinItsCapacitiesAndAsCounted) {
  // A vendor name of 128 characters ends the walk, a device name of 512 or data of 513 the vendor.
  for (const std::string& vendor :
       {"0001"s, "ABC"s, "0002x"s, "0003" + std::string(123, 'e'), "FFFE" + std::string(124, 'f'), "FFFF"s})
    List(vendor, "0001");
  for (const std::string& device :
       {"00"s, "00g1"s, "00a1"s, "00A2" + std::string(507, 'x'), "0003" + std::string(508, 'x'), "0004"s})
    List("BEEF", device);
  List("CAFE", "0001", 511);
  List("CAFE", "0002", 512);
  List("CAFE", "0003", 513);
  List("CAFE", "0004");
  EXPECT_EQ(ReadList(),
            (Pairs{{1, 1}, {2, 1}, {3, 1}, {0xBEEF, 0xA1}, {0xBEEF, 0xA2}, {0xCAFE, 1}, {0xCAFE, 2}}));
  // An entry added after the count (the counting pass enumerates twice) is left out: the buffer
  // holds what was counted, here one entry.
  Open();
  List("1111", "0001");
  Fail({});
  sim::BeforeCall("RegEnumKeyExA", 3, [this] { List("1111", "0009"); });
  EXPECT_EQ(ReadList(), (Pairs{{0x1111, 1}}));
  // A 32-bit component keeps its list in the 32-bit view, which only 64-bit Windows keeps apart.
  SetBytes("SOFTWARE\\WOW6432Node\\Orvix\\Kadrimov\\SupportedDevices\\3333", "0003", REG_SZ, "");
  SetString("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", "PROCESSOR_ARCHITECTURE",
            "x86");
  EXPECT_EQ(ReadList(), (Pairs{{0x1111, 1}, {0x1111, 9}}));
  // Without the list's key name nothing is opened, not even by a name left in the buffer.
  Fail({"LoadStringA"});
  EXPECT_EQ(ReadList(), Pairs{});
  EXPECT_EQ(Calls("RegOpenKeyExA"), Names{});
}

// A failing call; what the pass returns, how many of the devices it should remove stay, how
// often the class installer was asked to remove one, and whether the driver's service stays.
// Counts are of the supported devices below: all of them, all but one, or none.
enum Service { ServiceDeleted, ServiceKept };
struct PassCase {
  Failing fault;
  int32_t returned, left, asked;
  Service service;
};

TEST_F(StepsTest, ThePassRemovesWhatEachDevicesOwnIdentifierNamesAndSurvivesFailures) {
  RunState state{};
  ASSERT_TRUE(LoadResourceStrings(state));
  // Listed in an order that the lookup cannot search unsorted.
  for (const char* device : {"0007", "0005", "0003", "0001", "0000"}) List("1E7D", device);
  List("1E7C", "0000");
  List("0000", "0000");
  // 4095 characters fit with the NUL; a short identifier's device field is 0 past its end; both instances go.
  // Only PCI identifiers count, their labels in any case: other buses have other numbers there.
  const std::string removed[] = {
      Pci("1E7C", "4C43"),         Pci("1E7D", "0001"),
      Pci("1E7D", "0003"),         Pci("1E7D", "0005"),
      Pci("1E7D", "0007"),         "PCI\\VEN_1E7C&DEV_4C43&" + std::string(4071, 'f') + "\\1",
      Pci("1E7C", "4C46"),         "PCI\\VEN_1E7C&DEV_\\1",
      "pci\\ven_1e7c&dev_4c40\\1", "pci\\ven_1e7c&dev_4c40\\2"};
  const std::string kept[] = {
      Pci("1E7D", "0002"),         Pci("1E7C", "9999"),
      Pci("1E7C", "4C47"),         "PCI\\VEN_1E7C&DEV_4C41&" + std::string(4072, 't') + "\\1",
      "PCI\\VEN_1E7C\\1",          "PCI\\VEN_1E7D&SUB_0000\\1",
      "XYZ\\VEN_1E7C&DEV_4C40\\1", "USB\\VID_1E7C&PID_4C43\\5&1",
      "ROOT\\NET\\0001",           "SWD\\MSRRAS\\MS_NDISWANIP"};
  const int32_t all = std::size(removed), none = 0;
  const PassCase kCases[] = {
      // fault, returned, left, asked, service
      {{"SetupDiGetClassDevsA"}, none, all, none, ServiceKept},
      {{"SetupDiCallClassInstaller", "VEN_1E7D&DEV_0003"}, all - 1, 1, all, ServiceDeleted},
  };
  for (const PassCase& row : kCases) {
    SCOPED_TRACE(Named("", row.fault));
    for (const std::string& id : removed)
      AddDevice(kNet, id, id == Pci("1E7C", "4C46") ? std::string(4095, 'd').c_str() : "a");
    for (const std::string& id : kept)
      AddDevice(kNet, id, id == Pci("1E7C", "4C47") ? std::string(4096, 'd').c_str() : "a");
    AddService("RX90K");
    Fail(row.fault);
    EXPECT_EQ(RemoveDevicesOfClass(state, GUID_DEVCLASS_NET), row.returned);
    EXPECT_EQ(
        std::count_if(std::begin(removed), std::end(removed), [this](auto& id) { return HasDevice(id); }),
        row.left);
    for (const std::string& id : kept) EXPECT_TRUE(HasDevice(id)) << id.substr(0, 30);
    // One removal through the class installer per supported device, none without it.
    EXPECT_EQ(Calls("SetupDiCallClassInstaller").size(), static_cast<size_t>(row.asked));
    EXPECT_EQ(Has("SYSTEM\\CurrentControlSet\\Services\\RX90K") ? ServiceKept : ServiceDeleted, row.service);
  }
  // Another program deletes the list while it is read, the services once one is open: its devices stay.
  Fail({});
  AddService("RX90K");
  sim::BeforeCall("RegOpenKeyExA", 2, [] { SHDeleteKeyA(HKEY_LOCAL_MACHINE, kList.c_str()); });
  sim::BeforeCall("DeleteService", 1, [] { SHDeleteKeyA(HKEY_LOCAL_MACHINE, sim::kServicesKeyPath); });
  EXPECT_EQ(RemoveDevicesOfClass(state, GUID_DEVCLASS_NET), 0);
  EXPECT_TRUE(HasDevice(Pci("1E7D", "0003")));
  // A device gone between the listing and its removal, or its reading, is passed over uncounted.
  Fail({});
  List("1E7D", "0003");
  sim::BeforeCall("SetupDiSetClassInstallParamsA", 1, [] { Root()->subkeys.clear(); });
  EXPECT_EQ(RemoveDevicesOfClass(state, GUID_DEVCLASS_NET), 0);
}

}  // namespace
