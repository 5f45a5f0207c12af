// The steps of a run on a small machine, each under the failure of one call: the order
// of the steps of each mode, the string table, the install of one INF, and the clean-up
// of an earlier install with slots of every shape, wherever they point.
#include "app/resource_strings.h"
#include "cleanup/remove_installed_infs.h"
#include "cleanup/remove_uninstall_keys.h"
#include "install/install_inf.h"
#include "tests/support/machine.h"

namespace {

using namespace where;

const char* const kCatalog =
    "C:\\Windows\\System32\\catroot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\oem0.cat";
// What a recorded install leaves in the store, then files beside and outside it.
const std::pair<const char*, DWORD> kStore[] = {
    {"C:\\Windows\\INF\\oem0.inf", FILE_ATTRIBUTE_READONLY},
    {"C:\\Windows\\INF\\oem0.pnf", FILE_ATTRIBUTE_HIDDEN},
    {kCatalog, 0},
    {"C:\\Windows\\INF\\oem1.inf", 0},
    {"C:\\Windows\\INF\\sub\\z.inf", 0},
    {"C:\\Windows\\INF\\sub\\z.pnf", 0},
    {"C:\\Windows\\System32\\drivers\\x.inf", FILE_ATTRIBUTE_READONLY},
    {"C:\\Windows\\System32\\drivers\\x.pnf", FILE_ATTRIBUTE_SYSTEM},
    {"C:\\Program Files\\y.inf", 1},
    {"C:\\Program Files\\y.pnf", FILE_ATTRIBUTE_SYSTEM}};

class StepsTest : public MachineTest {
 protected:
  // The calls that show which step ran.
  static std::string Trace() {
    std::string trace;
    for (const auto& [name, detail] : sim::CallLog()) {
      std::string word = name == "GetProcAddress" ? "lookup" : name == "SetDllDirectoryA" ? "no-cwd" : "";
      if (name == "SetDefaultDllDirectories" || name == "SetupDiGetClassDevsA") word = detail.substr(0, 9);
      if (name == "GetModuleHandleA" && detail == "kernel32.dll") word = detail;
      if (name == "RegQueryValueExA" && detail.find("Parameters:RenamedInf") != std::string::npos &&
          trace.find("cleanup") == std::string::npos)
        word = "cleanup";
      if (name == "SetupCopyOEMInfA" && detail.find(" style=0x0") != std::string::npos)
        word = detail.substr(detail.rfind('\\') + 1, detail.find(" style=") - detail.rfind('\\') - 1);
      if (name == "SHDeleteKeyA") word = "uninstall";
      const bool repeated =
          trace.size() > word.size() && trace.substr(trace.size() - word.size() - 1) == word + " ";
      if (!word.empty() && !repeated) trace += word + " ";
    }
    return trace;
  }
  // What an install left, in the order it makes things.
  std::string Left(bool result) {
    std::string left = result ? "true" : "false";
    left += Exists(kInstall + "net7341a.inf"s) ? " staged" : "";
    left += Exists("C:\\Windows\\INF\\oem0.inf") ? " stored" : "";
    left += Exists(kSelfCopy) ? " copied" : "";
    for (const char* value : {"Install", "RenamedInf", "RenamedInf1", "DisplayName", "UninstallString"}) {
      const std::string key = value[0] == 'I' ? kProduct : value[0] == 'R' ? kParameters : kEntry;
      if (Has(key, value)) left += " "s + value + "=" + Str(key, value);
    }
    return left;
  }
  void SeedStore(const std::string& slot0, uint32_t type = REG_SZ) {
    Open();
    for (const auto& [path, attributes] : kStore) Write(path, "x", attributes);
    if (type != REG_NONE) SetBytes(kParameters, "RenamedInf", type, slot0);
    SetString(kParameters, "RenamedInf1", "C:\\Windows\\INF\\oem1.inf");
    SetString(kEntry, "DisplayName", "x");
  }
  // The store's files as seeded: "-" for one gone, else its attributes.
  std::string Gone() {
    std::string gone;
    for (const auto& [path, attributes] : kStore)
      gone += Exists(path) ? std::to_string(Attributes(path)) : "-";
    return gone;
  }
};

TEST_F(StepsTest, EveryModeHardensTheDllSearchThenClearsThenRunsItsOwnSteps) {
  const std::string hardened = "kernel32.dll lookup 2048 ", cleared = "{4D36E972 {4D36E97E cleanup ";
  const std::string both = cleared + "net7341a.inf net73417.inf ";
  const struct {
    const char* tail;
    Failing failing;
    std::string trace;
  } cases[] = {{"", {}, hardened + both},
               {"/au", {}, hardened + both},
               {"/inf=x.inf", {}, hardened + cleared + "x.inf "},
               {"/au /u", {}, hardened + cleared + "uninstall "},
               {"/u /inf=x.inf", {}, hardened + cleared + "uninstall "},
               // Without strings the clean-up and the key removal give up; the device passes run.
               {"/u", {"LoadStringA", 0, {}}, hardened + "{4D36E972 {4D36E97E "},
               // Without the system's own call the search drops the current folder; the run goes on.
               {"", {"GetModuleHandleA", 1, {}}, "kernel32.dll no-cwd " + both},
               {"", {"GetProcAddress", 0, {}}, "kernel32.dll lookup no-cwd " + both},
               {"", {"SetDefaultDllDirectories", 0, {}}, hardened + "no-cwd " + both},
               {"", {"SetDllDirectoryA", 0, {}}, hardened + both}};
  for (const auto& c : cases) {
    Open();
    Write("C:\\pkg\\net7341a.inf", InfText("a"));
    SetString(kParameters, "RenamedInf", "C:\\Windows\\INF\\oem0.inf");
    Fail(c.failing);
    EXPECT_EQ(Run(c.tail), 1);
    EXPECT_EQ(Trace(), c.trace) << c.tail << " " << c.failing.call;
    EXPECT_EQ(Exists("C:\\Windows\\INF\\oem0.inf"), c.trace.find("net7341a") != std::string::npos);
  }
}

// Entries load in the order 1, 2, 3, 4, 11, 5, 7, 8, 9, 10; a missing one stops the
// load, and the entries after it keep what they held.
TEST_F(StepsTest, StringsLoadInTableOrderAndStopAtTheFirstMissing) {
  for (uint32_t missing = 1; missing <= 11; ++missing) {
    RunState state{};
    const char* inOrder[] = {state.VendorKey,        state.ProductName, state.Parameters,   state.RenamedInf,
                             state.RenamedInf1,      state.ServiceName, state.UninstallKey, state.DisplayName,
                             state.UninstallCommand, state.Version};
    Fail({"LoadStringA", missing, {}});
    EXPECT_EQ(LoadResourceStrings(state), missing == 11);
    for (uint32_t i = 0; i < 10; ++i)
      EXPECT_EQ(inOrder[i][0] != '\0', i + 1 < missing) << missing << " " << i;
  }
}

TEST_F(StepsTest, EachExitOfAnInstallLeavesWhatCameBeforeIt) {
  const std::string entry = " DisplayName=Orvix adapter installation program UninstallString=qnetprep.exe /u";
  const std::string recorded = "staged stored Install=Success RenamedInf=C:\\Windows\\INF\\oem0.inf";
  const std::string all = "true staged stored copied" + recorded.substr(13) + entry,
                    uncopied = "true " + recorded + entry;
  const struct {
    bool record;
    Failing failing;
    std::string left;
  } cases[] = {{false, {}, "true staged stored"},
               // Without "SOFTWARE" the install gives up, in either mode.
               {false, {"RegOpenKeyExA", 1, {}}, "false staged"},
               {false, {"SetupCopyOEMInfA", 2, {}}, "false staged"},
               {true, {}, all},
               {true, {"RegOpenKeyExA", 1, {}}, "false staged"},
               {true, {"RegCreateKeyExA", 1, {}}, "false staged"},
               {true, {"RegCreateKeyExA", 3, {}}, "false staged"},
               // Only the full copy decides; the catalog pass before it does not.
               {true, {"SetupCopyOEMInfA", 1, {}}, all},
               {true, {"SetupCopyOEMInfA", 2, {}}, "false staged Install=Fail"},
               {true, {"RegSetValueExA", 4, {}}, "false staged stored Install=Success"},
               {true, {"RegOpenKeyExA", 2, {}}, "false " + recorded},
               {true, {"RegCreateKeyExA", 4, {}}, "false " + recorded},
               // Both values of the entry are written whatever the first write did.
               {true, {"RegSetValueExA", 5, {}}, "false " + recorded + entry.substr(entry.find(" U"))},
               {true, {"RegSetValueExA", 6, {}}, "false " + recorded + entry.substr(0, entry.find(" U"))},
               {true, {"GetCurrentDirectoryA", 1, {}}, "false"},
               {true, {"GetCurrentDirectoryA", 1, {0, true, MAX_PATH}}, "false"},
               // A "ProgramFiles" or a system folder that fills its buffer counts as absent.
               {true, {"GetEnvironmentVariableA", 1, {0, true, MAX_PATH}}, all},
               {true, {"GetSystemDirectoryA", 1, {}}, uncopied},
               {true, {"GetSystemDirectoryA", 1, {0, true, 512}}, uncopied},
               {true, {"GetSystemDirectoryA", 1, {0, true, 300}}, uncopied}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failing.call + " "s + std::to_string(c.failing.occurrence) +
                 (c.record ? " recorded" : ""));
    Open();
    Write("C:\\pkg\\net7341a.inf", InfText("a", "rx90kw2a.cat"));
    Write("C:\\pkg\\rx90kw2a.cat", "catalog");
    Write("C:\\pkg\\qnetprep.exe", "program");
    RunState state{};
    ASSERT_TRUE(LoadResourceStrings(state));
    state.RecordMode = c.record;
    // Left by an install before: a folder, or text too long to join with the program's name.
    const std::string before =
        c.failing.fault.result == 300 ? std::string(300, 's') : "C:\\Windows\\System32";
    std::memcpy(state.SystemFolder, before.c_str(), before.size() + 1);
    Fail(c.failing);
    testing::internal::CaptureStdout();
    const bool installed = InstallInf(state, "net7341a.inf");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(Left(installed), c.left);
    EXPECT_EQ(sim::OpenRegistryKeyCount(), 0);
  }
  // The records are 512 bytes each; with both slots taken nothing more is installed.
  for (const char* value : {"Install", "reboot", "Version"})
    EXPECT_EQ(Value(kProduct, value)->data.size(), 512u);
  EXPECT_EQ(Str(kProduct, "reboot") + Str(kProduct, "Version"), "reboot0.0.3.6");
  RunState state{};
  state.RecordMode = true;
  SetString(kParameters, "RenamedInf1", "C:\\Windows\\INF\\oem8.inf");
  Write("C:\\pkg\\net73417.inf", InfText("b"));
  EXPECT_FALSE(InstallInf(state, "net73417.inf") || Exists("C:\\Windows\\INF\\oem1.inf"));
}

TEST_F(StepsTest, SlotsNameFilesInTheInfFolderOnlyAndTheSystemUninstallsWhatStandsDirectlyInIt) {
  const std::string stored = "C:\\Windows\\INF\\oem0.inf", both = "oem0.inf oem1.inf ";
  const std::string removed = "----001414", untouched = "120-001414", unread = "1200001414";
  const struct {
    std::string slot0;
    uint32_t type;
    std::string gone, uninstalled;
  } cases[] = {{stored, REG_SZ, removed, both},
               {"c:\\windows\\inf\\oem0.inf", REG_SZ, removed, both},
               {stored + std::string(512 - stored.size(), '\0'), REG_SZ, removed, both},
               {stored, REG_BINARY, removed, both},
               // Only ".inf" turns into ".pnf" (here the system takes the PNF anyway).
               {"C:\\Windows\\INF\\oem0.INF", REG_SZ, removed, "oem0.INF oem1.inf "},
               {"C:\\Windows\\INF\\oem9.inf", REG_SZ, untouched, "oem9.inf oem1.inf "},
               // Deeper in the store: deleted without the system, which takes names only.
               {"C:\\Windows\\INF\\sub\\z.inf", REG_SZ, "120---1414", "oem1.inf "},
               {"C:\\Windows\\System32\\drivers\\x.inf", REG_SZ, untouched, "oem1.inf "},
               {"C:\\Program Files\\y.inf", REG_SZ, untouched, "oem1.inf "},
               {"C:\\Windows\\INF\\..\\System32\\drivers\\x.inf", REG_SZ, untouched, "oem1.inf "},
               {"C:\\Windows\\INF.old\\oem0.inf", REG_SZ, untouched, "oem1.inf "},
               {"C:\\Windows\\INF", REG_SZ, untouched, "oem1.inf "},
               {"\x07\0\0\0"s, REG_DWORD, untouched, "oem1.inf "},
               // A slot that fills its 512 bytes without a NUL, or does not fit them, names nothing.
               {stored + std::string(512 - stored.size(), ' '), REG_SZ, unread, ""},
               {stored + std::string(513 - stored.size(), '\0'), REG_SZ, unread, ""},
               {"", REG_NONE, unread, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.slot0.substr(0, 50));
    SeedStore(c.slot0, c.type);
    RunState state{};
    testing::internal::CaptureStdout();
    EXPECT_EQ(RemoveInstalledInfs(state), c.gone != unread);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(Gone(), c.gone);
    std::string uninstalled;
    for (const std::string& call : Calls("SetupUninstallOEMInfA"))
      uninstalled += call.substr(0, call.find(" flags=0x1")) + " ";
    EXPECT_EQ(uninstalled, c.uninstalled);
    EXPECT_EQ(Has(kProduct) || Has(kEntry), c.gone == unread);
    EXPECT_EQ(sim::OpenRegistryKeyCount(), 0);
  }
  const struct {
    Failing failing;
    std::string gone, output;
    bool result, records, entry;
  } failures[] = {{{"LoadStringA", 1, {}}, unread, "", false, true, true},
                  {{"RegOpenKeyExA", 1, {}}, unread, "", false, true, true},
                  {{"RegOpenKeyExA", 2, {}}, unread, "", false, true, true},
                  {{"RegOpenKeyExA", 3, {}}, unread, "", false, true, true},
                  {{"RegQueryValueExA", 1, {}}, unread, "", false, true, true},
                  {{"RegQueryValueExA", 2, {}}, "---0001414", "", true, false, false},
                  {{"RegOpenKeyExA", 4, {}}, removed, "", false, false, true},
                  {{"RegDeleteKeyA", 1, {}}, removed, "", true, true, false},
                  {{"GetWindowsDirectoryA", 0, {}}, unread, "", true, false, false},
                  {{"GetWindowsDirectoryA", 0, {0, true, MAX_PATH}}, unread, "", true, false, false},
                  // Without the system's uninstall the catalog stays; the deletions go on.
                  {{"SetupUninstallOEMInfA", 0, {}}, "--0-001414", "", true, false, false},
                  {{"SetFileAttributesA", 1, {ERROR_ACCESS_DENIED}},
                   "1-0-001414",
                   "SetFileAttributes error, error value = 5",
                   true,
                   false,
                   false},
                  {{"SetFileAttributesA", 2, {0x1F}},
                   removed,
                   "SetFileAttributes error, error value = 1f",
                   true,
                   false,
                   false}};
  for (const auto& c : failures) {
    SCOPED_TRACE(c.failing.call + " "s + std::to_string(c.failing.occurrence));
    SeedStore(stored);
    Fail(c.failing);
    RunState state{};
    testing::internal::CaptureStdout();
    EXPECT_EQ(RemoveInstalledInfs(state), c.result);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
    EXPECT_EQ(Gone() + Bits({Has(kParameters), Has(kEntry)}), c.gone + Bits({c.records, c.entry}));
  }
}

TEST_F(StepsTest, TheUninstallRemovesItsKeysWholeAndSkipsOnlyWhatItCannotOpen) {
  const char* lumora = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumora";
  for (uint32_t failing = 0; failing <= 2; ++failing) {
    SeedStore("");
    SetString(kParameters + "\\Deeper"s, "x", "y");
    SetString(lumora + "\\Parts"s, "x", "y");
    SetString("SOFTWARE\\Orvix\\qnetprep2", "x", "y");
    RunState state{};
    ASSERT_TRUE(LoadResourceStrings(state));
    Fail({failing != 0 ? "RegOpenKeyExA" : "", failing, {}});
    RemoveUninstallKeys(state);
    EXPECT_EQ(Bits({Has(kProduct), Has(kEntry), Has(lumora)}), failing == 1   ? "100"
                                                               : failing == 2 ? "011"
                                                                              : "000");
    EXPECT_TRUE(Has("SOFTWARE\\Orvix\\qnetprep2") &&
                Has("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));
    EXPECT_EQ(sim::OpenRegistryKeyCount(), 0);
  }
}

}  // namespace
