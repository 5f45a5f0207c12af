// The steps of a run on a small machine, each under the failure of one call: the order of
// the steps of each mode, the string table, the install of one INF, and the clean-up of an
// earlier install with slots of every shape, wherever they point.
#include "app/resource_strings.h"
#include "cleanup/remove_installed_infs.h"
#include "install/install_inf.h"
#include "tests/support/machine.h"

namespace {

using namespace where;

const char* const kCatalog =
    "C:\\Windows\\System32\\catroot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\oem0.cat";
// What a recorded install leaves in the store, then files beside and outside it, seeded with
// the attributes (read-only 1, hidden 2, system 4) that kSeeded lists in order.
const std::string kStore[] = {"C:\\Windows\\INF\\oem0.inf",
                              "C:\\Windows\\INF\\oem0.pnf",
                              kCatalog,
                              "C:\\Windows\\INF\\oem1.inf",
                              "C:\\Windows\\INF\\sub\\z.inf",
                              "C:\\Windows\\INF\\sub\\z.pnf",
                              "C:\\Windows\\System32\\drivers\\x.inf",
                              "C:\\Windows\\System32\\drivers\\x.pnf",
                              "C:\\Program Files\\y.inf",
                              "C:\\Program Files\\y.pnf"};
const std::string kSeeded = "1200001414";

class StepsTest : public MachineTest {
 protected:
  // The calls that show which step ran, each once in a row.
  static std::string Trace() {
    std::string trace, word;
    for (const auto& [name, detail] : sim::CallLog()) {
      const size_t style = detail.find(" style=0x0");
      word = name == "GetProcAddress"     ? "lookup"
             : name == "SetDllDirectoryA" ? "no-cwd"
             : name == "SHDeleteKeyA"     ? "uninstall"
                                          : "";
      if (name == "SetDefaultDllDirectories" || name == "SetupDiGetClassDevsA") word = detail.substr(0, 9);
      if (name == "GetModuleHandleA" && detail == "kernel32.dll") word = detail;
      if (name == "RegQueryValueExA" && detail.find("Parameters:RenamedInf") != std::string::npos)
        word = trace.find("cleanup") == std::string::npos ? "cleanup" : "";
      if (name == "SetupCopyOEMInfA" && style != std::string::npos)
        word = detail.substr(detail.rfind('\\') + 1, style - detail.rfind('\\') - 1);
      if (!word.empty() &&
          (trace.size() <= word.size() || trace.substr(trace.size() - word.size() - 1) != word + " "))
        trace += word + " ";
    }
    return trace;
  }
  void SeedStore(const std::string& slot0, uint32_t type = REG_SZ) {
    Open();
    for (size_t i = 0; i < kSeeded.size(); ++i) Write(kStore[i], "x", kSeeded[i] - '0');
    if (type != REG_NONE) SetBytes(kParameters, "RenamedInf", type, slot0);
    SetString(kParameters, "RenamedInf1", "C:\\Windows\\INF\\oem1.inf");
    SetString(kEntry, "DisplayName", "x");
  }
  // The store's files as seeded: "-" for one gone, else its attributes.
  std::string Gone() {
    std::string gone;
    for (const std::string& path : kStore) gone += Exists(path) ? std::to_string(Attributes(path)) : "-";
    return gone;
  }
};

TEST_F(StepsTest, EveryModeHardensTheDllSearchThenClearsThenRunsItsOwnSteps) {
  const std::string hardened = "kernel32.dll lookup 2048 ", cleared = "{4D36E972 {4D36E97E cleanup ";
  const std::string both = cleared + "net7341a.inf net73417.inf ";
  const std::tuple<const char*, Failing, std::string> cases[] = {
      {"", {}, hardened + both},
      {"/au", {}, hardened + both},
      {"/inf=x.inf", {}, hardened + cleared + "x.inf "},
      {"/au /u", {}, hardened + cleared + "uninstall "},
      {"/u /inf=x.inf", {}, hardened + cleared + "uninstall "},
      // Without strings the clean-up and the key removal give up; the device passes run.
      {"/u", {"LoadStringA"}, hardened + "{4D36E972 {4D36E97E "},
      // Without the system's own call the search leaves out the current folder; the run goes on.
      {"", {"GetModuleHandleA"}, "kernel32.dll no-cwd " + both},
      {"", {"GetProcAddress"}, "kernel32.dll lookup no-cwd " + both},
      {"", {"SetDefaultDllDirectories"}, hardened + "no-cwd " + both},
      {"", {"SetDllDirectoryA"}, hardened + both}};
  for (const auto& [tail, failing, trace] : cases) {
    Open();
    Write("C:\\pkg\\net7341a.inf", InfText("a"));
    SetString(kParameters, "RenamedInf", "C:\\Windows\\INF\\oem0.inf");
    Fail(failing);
    EXPECT_EQ(Run(tail), 1);
    EXPECT_EQ(Trace(), trace) << tail << " " << failing.call;
    EXPECT_EQ(Exists("C:\\Windows\\INF\\oem0.inf"), trace.find("net7341a") != std::string::npos);
  }
  // Entries load in the order 1, 2, 3, 4, 11, 5, 7, 8, 9, 10; a missing one stops the load,
  // and the entries after it keep what they held.
  for (uint32_t missing = 1; missing <= 11; ++missing) {
    RunState state{};
    Fail({"LoadStringA", missing});
    EXPECT_EQ(LoadResourceStrings(state), missing == 11);
    std::string loaded;
    for (const char* text :
         {state.VendorKey, state.ProductName, state.Parameters, state.RenamedInf, state.RenamedInf1,
          state.ServiceName, state.UninstallKey, state.DisplayName, state.UninstallCommand, state.Version})
      loaded += *text != '\0' ? '1' : '0';
    EXPECT_EQ(loaded, std::string(missing - 1, '1') + std::string(11 - missing, '0'));
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
      {false, {"RegOpenKeyExA", 1}, "0100" + none},
      {true, {}, "1111" + recorded + entry},
      {true, {"SetupCopyOEMInfA", 2}, "0100 Fail   "},
      {true, {"RegSetValueExA", 4}, "0110 Success   "},
      {true, {"RegCreateKeyExA", 4}, "0110" + recorded + "  "},
      // Both values of the entry are written whatever the first write did.
      {true, {"RegSetValueExA", 5}, "0110" + recorded + "  qnetprep.exe /u"},
      {true, {"RegSetValueExA", 6}, "0110" + recorded + " Orvix adapter installation program "},
      // A current folder, "ProgramFiles" or system folder that fills its buffer is none.
      {true, {"GetCurrentDirectoryA", 1, {0, true, MAX_PATH}}, "0000" + none},
      {true, {"GetEnvironmentVariableA", 1, {0, true, MAX_PATH}}, "1111" + recorded + entry},
      {true, {"GetSystemDirectoryA", 1, {0, true, 512}}, "1110" + recorded + entry},
      {true, {"GetSystemDirectoryA", 1, {0, true, 300}}, "1110" + recorded + entry}};
  for (const auto& [record, failing, expected] : cases) {
    Open();
    Write("C:\\pkg\\net7341a.inf", InfText("a", "rx90kw2a.cat"));
    Write("C:\\pkg\\rx90kw2a.cat", "catalog");
    Write("C:\\pkg\\qnetprep.exe", "program");
    RunState state{};
    state.RecordMode = record;
    // Left by an install before: a folder, or text too long to join with the program's name.
    const std::string before = failing.fault.result == 300 ? std::string(300, 's') : "C:\\Windows\\System32";
    std::memcpy(state.SystemFolder, before.c_str(), before.size() + 1);
    Fail(failing);
    testing::internal::CaptureStdout();
    const bool installed = InstallInf(state, "net7341a.inf");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(left(installed), expected) << failing.call << " " << failing.occurrence;
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
  const std::string removed = "----001414", untouched = "120-001414";
  // The slot, its type, what is gone, the names the system was asked to uninstall.
  const std::tuple<std::string, uint32_t, std::string, std::string> cases[] = {
      {stored, REG_SZ, removed, both},
      {"c:\\windows\\inf\\oem0.inf", REG_SZ, removed, both},
      // Only ".inf" turns into ".pnf" (the system takes the PNF anyway); a file already gone
      // is not reported.
      {"C:\\Windows\\INF\\oem0.INF", REG_SZ, removed, "oem0.INF oem1.inf "},
      {"C:\\Windows\\INF\\oem9.inf", REG_SZ, untouched, "oem9.inf oem1.inf "},
      // Deeper in the store: deleted without the system, which takes names only.
      {"C:\\Windows\\INF\\sub\\z.inf", REG_SZ, "120---1414", "oem1.inf "},
      {"C:\\Windows\\System32\\drivers\\x.inf", REG_SZ, untouched, "oem1.inf "},
      {"C:\\Program Files\\y.inf", REG_SZ, untouched, "oem1.inf "},
      {"C:\\Windows\\INF\\..\\System32\\drivers\\x.inf", REG_SZ, untouched, "oem1.inf "},
      // A slot that fills its 512 bytes without a NUL names nothing, as a missing one.
      {stored + std::string(512 - stored.size(), ' '), REG_SZ, kSeeded, ""},
      {"", REG_NONE, kSeeded, ""}};
  for (const auto& [slot0, type, gone, uninstalled] : cases) {
    SeedStore(slot0, type);
    RunState state{};
    testing::internal::CaptureStdout();
    EXPECT_EQ(RemoveInstalledInfs(state), gone != kSeeded) << slot0;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    std::string asked;
    for (const std::string& call : Calls("SetupUninstallOEMInfA"))
      asked += call.substr(0, call.find(" flags=0x1")) + " ";
    EXPECT_EQ(Gone() + " " + asked + Bits({Has(kProduct), Has(kEntry)}),
              gone + " " + uninstalled + (gone == kSeeded ? "11" : "00"));
    EXPECT_EQ(sim::OpenRegistryKeyCount(), 0);
  }
  // What is gone, then whether RemoveInstalledInfs succeeded and the records and entry stay.
  const std::tuple<Failing, std::string, std::string> failures[] = {
      {{"LoadStringA", 1}, kSeeded + " 011", ""},
      {{"RegOpenKeyExA", 1}, kSeeded + " 011", ""},
      {{"RegQueryValueExA", 2}, "---0001414 100", ""},
      {{"RegOpenKeyExA", 4}, removed + " 001", ""},
      {{"RegDeleteKeyA", 1}, removed + " 110", ""},
      {{"GetWindowsDirectoryA"}, kSeeded + " 100", ""},
      {{"GetWindowsDirectoryA", 0, {0, true, MAX_PATH}}, kSeeded + " 100", ""},
      // Without the system's uninstall the catalog stays; the deletions go on.
      {{"SetupUninstallOEMInfA"}, "--0-001414 100", ""},
      {{"SetFileAttributesA", 1, {ERROR_ACCESS_DENIED}},
       "1-0-001414 100",
       "SetFileAttributes error, error value = 5"},
      {{"SetFileAttributesA", 2, {0x1F}}, removed + " 100", "SetFileAttributes error, error value = 1f"}};
  for (const auto& [failing, left, output] : failures) {
    SeedStore(stored);
    Fail(failing);
    RunState state{};
    testing::internal::CaptureStdout();
    const bool result = RemoveInstalledInfs(state);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), output) << failing.call;
    EXPECT_EQ(Gone() + " " + Bits({result, Has(kParameters), Has(kEntry)}), left) << failing.call;
  }
}

}  // namespace
