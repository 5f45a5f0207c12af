// Undoing an earlier install: record slots of every shape and wherever they point (only
// the system's INF folder may be touched), the record keys one level at a time, and the
// uninstall's whole-tree removal.
#include "app/resource_strings.h"
#include "cleanup/remove_installed_infs.h"
#include "cleanup/remove_uninstall_keys.h"
#include "tests/support/machine.h"

namespace {

using namespace where;

constexpr const char* kCatalog =
    "C:\\Windows\\System32\\catroot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\oem0.cat";

// What Gone() shows of the store's oem0 (INF, PNF, catalog) and oem1, then the six files
// beside and outside it, before anything is removed.
const std::string unread = "1200001414";

class CleanupTest : public MachineTest {
 protected:
  // What a recorded install leaves, and files that slots may name but not touch.
  void Seed(const std::string& slot0, uint32_t type = REG_SZ) {
    sim::OpenMachine(folder_ = workspace_ + "/m" + std::to_string(copies_++), workspace_);
    Write("C:\\Windows\\INF\\oem0.inf", InfText("0"), FILE_ATTRIBUTE_READONLY);
    Write("C:\\Windows\\INF\\oem0.pnf", "pnf", FILE_ATTRIBUTE_HIDDEN);
    Write(kCatalog, "catalog");
    Write("C:\\Windows\\INF\\oem1.inf", InfText("1"));
    Write("C:\\Windows\\INF\\sub\\z.inf", "z");
    Write("C:\\Windows\\INF\\sub\\z.pnf", "z");
    for (const char* outside : {"C:\\Windows\\System32\\drivers\\x", "C:\\Program Files\\Zentrix\\y"}) {
      Write(outside + std::string(".inf"), "outside", FILE_ATTRIBUTE_READONLY);
      Write(outside + std::string(".pnf"), "outside", FILE_ATTRIBUTE_SYSTEM);
    }
    if (type != REG_NONE) SetBytes(kParameters, "RenamedInf", type, slot0);
    SetString(kParameters, "RenamedInf1", "C:\\Windows\\INF\\oem1.inf");
    SetString(kEntry, "DisplayName", "x");
    SetString("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumora", "DisplayName", "y");
  }
  // The seeded files that are gone, and the attributes of those that stay.
  std::string Gone() {
    std::string gone;
    for (const std::string path :
         {"C:\\Windows\\INF\\oem0.inf", "C:\\Windows\\INF\\oem0.pnf", kCatalog, "C:\\Windows\\INF\\oem1.inf",
          "C:\\Windows\\INF\\sub\\z.inf", "C:\\Windows\\INF\\sub\\z.pnf",
          "C:\\Windows\\System32\\drivers\\x.inf", "C:\\Windows\\System32\\drivers\\x.pnf",
          "C:\\Program Files\\Zentrix\\y.inf", "C:\\Program Files\\Zentrix\\y.pnf"})
      gone += Exists(path) ? std::to_string(Attributes(path)) : "-";
    return gone;
  }
};

TEST_F(CleanupTest, SlotsNameFilesInTheInfFolderOnlyAndTheSystemUninstallsWhatStandsDirectlyInIt) {
  const std::string rest = "-001414", untouched = "120" + rest;
  const std::string stored = "C:\\Windows\\INF\\oem0.inf";
  const struct {
    std::string slot0;
    uint32_t type;
    std::string gone, uninstalled, output;
    bool recordsRemoved;
  } cases[] = {
      {stored, REG_SZ, "---" + rest, "oem0.inf oem1.inf ", "", true},
      {"c:\\windows\\inf\\oem0.inf", REG_SZ, "---" + rest, "oem0.inf oem1.inf ", "", true},
      {std::string(stored).append(512 - stored.size(), '\0'), REG_SZ, "---" + rest, "oem0.inf oem1.inf ", "",
       true},
      {stored, REG_BINARY, "---" + rest, "oem0.inf oem1.inf ", "", true},
      // Only the extension turns into ".pnf" (the system takes the PNF anyway); a file
      // already gone is not reported.
      {"C:\\Windows\\INF\\oem0.INF", REG_SZ, "---" + rest, "oem0.INF oem1.inf ", "", true},
      {"C:\\Windows\\INF\\oem9.inf", REG_SZ, untouched, "oem9.inf oem1.inf ", "", true},
      // Deeper in the store: deleted without the system, which takes names only.
      {"C:\\Windows\\INF\\sub\\z.inf", REG_SZ, "120---1414", "oem1.inf ", "", true},
      {"C:\\Windows\\System32\\drivers\\x.inf", REG_SZ, untouched, "oem1.inf ", "", true},
      {"C:\\Program Files\\Zentrix\\y.inf", REG_SZ, untouched, "oem1.inf ", "", true},
      {"C:\\Windows\\INF\\..\\System32\\drivers\\x.inf", REG_SZ, untouched, "oem1.inf ", "", true},
      {"C:\\Windows\\INF.old\\oem0.inf", REG_SZ, untouched, "oem1.inf ", "", true},
      {"C:\\Windows\\INF", REG_SZ, untouched, "oem1.inf ", "", true},
      {"", REG_SZ, untouched, "oem1.inf ", "", true},
      {"\x07\0\0\0", REG_DWORD, untouched, "oem1.inf ", "", true},
      // A slot that fills its 512 bytes without a NUL, or does not fit them, names nothing.
      {std::string(stored).append(512 - stored.size(), ' '), REG_SZ, unread, "", "", false},
      {std::string(stored).append(513 - stored.size(), '\0'), REG_SZ, unread, "", "", false},
      {"", REG_NONE, unread, "", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.slot0.substr(0, 50));
    Seed(c.slot0, c.type);
    RunState state{};
    testing::internal::CaptureStdout();
    EXPECT_EQ(RemoveInstalledInfs(state), c.recordsRemoved);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
    EXPECT_EQ(Gone(), c.gone);
    std::string uninstalled;
    for (const std::string& call : Calls("SetupUninstallOEMInfA"))
      uninstalled += call.substr(0, call.find(" flags=0x1")) + " ";
    EXPECT_EQ(uninstalled, c.uninstalled);
    EXPECT_EQ(Has(kProduct), !c.recordsRemoved);
    EXPECT_EQ(Has(kEntry), !c.recordsRemoved);
    EXPECT_EQ(sim::OpenRegistryKeyCount(), 0);
  }
}

TEST_F(CleanupTest, FailuresLeaveTheRestInPlaceAndOnlyRealOnesAreReported) {
  const struct {
    const char* call;
    uint32_t occurrence;
    sim::Fault fault;
    std::string gone, output;
    bool result, records, entry;
  } cases[] = {
      {"LoadStringA", 1, {}, unread, "", false, true, true},
      {"RegOpenKeyExA", 1, {}, unread, "", false, true, true},
      {"RegOpenKeyExA", 2, {}, unread, "", false, true, true},
      {"RegOpenKeyExA", 3, {}, unread, "", false, true, true},
      {"RegQueryValueExA", 1, {}, unread, "", false, true, true},
      {"RegQueryValueExA", 2, {}, "---0001414", "", true, false, false},
      {"RegOpenKeyExA", 4, {}, "----001414", "", false, false, true},
      {"GetWindowsDirectoryA", 0, {}, unread, "", true, false, false},
      {"GetWindowsDirectoryA", 0, {0, true, MAX_PATH}, unread, "", true, false, false},
      // Without the system's uninstall the catalog stays; the deletions go on.
      {"SetupUninstallOEMInfA", 0, {}, "--0-001414", "", true, false, false},
      {"SetFileAttributesA",
       1,
       {ERROR_ACCESS_DENIED},
       "1-0-001414",
       "SetFileAttributes error, error value = 5",
       true,
       false,
       false},
      {"SetFileAttributesA",
       2,
       {0x1F},
       "----001414",
       "SetFileAttributes error, error value = 1f",
       true,
       false,
       false},
      {"RegDeleteKeyA", 1, {}, "----001414", "", true, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.call) + " " + std::to_string(c.occurrence));
    Seed("C:\\Windows\\INF\\oem0.inf");
    sim::FailCall(c.call, c.fault, c.occurrence);
    RunState state{};
    testing::internal::CaptureStdout();
    EXPECT_EQ(RemoveInstalledInfs(state), c.result);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
    EXPECT_EQ(Gone(), c.gone);
    EXPECT_EQ(Has(kParameters), c.records);
    EXPECT_EQ(Has(kEntry), c.entry);
  }
}

TEST_F(CleanupTest, TheUninstallRemovesItsKeysWholeAndSkipsOnlyWhatItCannotOpen) {
  for (const char* failing : {"", "vendor", "list"}) {
    SCOPED_TRACE(failing);
    Seed("C:\\Windows\\INF\\oem0.inf");
    SetString(std::string(kParameters) + "\\Deeper", "x", "y");
    SetString("SOFTWARE\\Orvix\\qnetprep2", "x", "y");
    RunState state{};
    ASSERT_TRUE(LoadResourceStrings(state));
    sim::ResetCalls();
    if (*failing != '\0') sim::FailCall("RegOpenKeyExA", {}, *failing == 'v' ? 1 : 2);
    RemoveUninstallKeys(state);
    EXPECT_EQ(Has(kProduct), *failing == 'v');
    EXPECT_EQ(Has(kEntry) || Has("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumora"),
              *failing == 'l');
    EXPECT_TRUE(Has("SOFTWARE\\Orvix\\qnetprep2") &&
                Has("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));
    EXPECT_EQ(sim::OpenRegistryKeyCount(), 0);
  }
}

}  // namespace
