// Undoing an earlier install: the stored INF and PNF files named by the record slots,
// the record keys one level each, and the uninstall's whole-tree removal.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/resource_strings.h"
#include "cleanup/delete_inf_and_pnf.h"
#include "cleanup/remove_installed_infs.h"
#include "cleanup/remove_uninstall_keys.h"
#include "tests/support/sim_machine.h"

namespace {

using CleanupTest = SimMachineTest;

TEST_F(CleanupTest, OnlyAnInfEndingThePathTakesItsPnfAndOnlyRealFailuresAreReported) {
  const std::string store = "C:\\Windows\\INF\\";
  const std::string line = "SetFileAttributes error, error value = ";
  struct Case {
    const char* path;
    std::vector<std::string> deleted;
    std::vector<std::string> kept;
    std::vector<DWORD> attributeErrors;  // of the first calls
    std::string output;
  };
  const Case cases[] = {
      {"oem9.inf", {}, {}, {}, ""},  // already gone
      {"oem3.inf", {"oem3.inf", "oem3.pnf"}, {"oem4.inf"}, {5, 0x1f}, line + "5" + line + "1f"},
      {"OEM5.INF", {"OEM5.INF"}, {"OEM5.pnf"}, {}, ""},
      {"drv.inf\\oem6.inf", {"drv.inf\\oem6.inf", "drv.inf\\oem6.pnf"}, {"drv.pnf"}, {}, ""},
      {"x.inf.bak", {"x.inf.bak"}, {"x.pnf", "x.pnf.bak"}, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    for (const std::string& file : c.deleted) WriteFile(store + file, "x");
    for (const std::string& file : c.kept) WriteFile(store + file, "x");
    sim::ResetCalls();
    for (size_t i = 0; i < c.attributeErrors.size(); ++i)
      sim::FailCall("SetFileAttributesA", sim::Fault{c.attributeErrors[i]}, static_cast<uint32_t>(i + 1));

    EXPECT_EQ(Output([&] { DeleteInfAndPnf((store + c.path).c_str()); }), c.output);

    for (const std::string& file : c.deleted) EXPECT_FALSE(FileExists(store + file)) << file;
    for (const std::string& file : c.kept) EXPECT_TRUE(FileExists(store + file)) << file;
  }
}

class RemoveInstalledInfsTest : public SimMachineTest {
 protected:
  // A slot of `size` bytes: the text, then NULs.
  void SetSlot(const char* name, const std::string& text, size_t size = 512) {
    std::vector<uint8_t> data(size, 0);
    std::copy(text.begin(), text.end(), data.begin());
    SetValueBytes(where::kParametersKey, name, REG_SZ, data);
  }
  void DeleteSlot(const char* name) {
    sim::DeleteValue(*sim::FindKeyPath(sim::TheMachine().localMachine, where::kParametersKey), name);
  }
  void DeleteKey(const std::string& parent, const char* name) {
    sim::DeleteSubkeyTree(*sim::FindKeyPath(sim::TheMachine().localMachine, parent), name);
  }

  // What a recorded default install leaves (oem1 and oem2), among things that are not ours.
  void SeedRecordedInstall() {
    DeleteKey("SOFTWARE", "Orvix");
    for (const char* file : {"oem1.inf", "oem1.pnf", "oem2.inf", "oem2.pnf", "oem7.inf", "oem7.pnf"})
      WriteFile(std::string("C:\\Windows\\INF\\") + file, file);
    SetString(where::kProductKey, "Install", "Success");
    SetSlot("RenamedInf", "C:\\Windows\\INF\\oem1.inf");
    SetSlot("RenamedInf1", "C:\\Windows\\INF\\oem2.inf");
    SetString(where::kEntryKey, "DisplayName", "Orvix adapter installation program");
    CreateKey("SOFTWARE\\Orvix\\OtherProduct");
    sim::ResetCalls();
  }

  RunState state_{};
};

// What is left after the clean-up.
enum Left { kGone = 0, kOem1 = 1, kOem2 = 2, kProduct = 4, kParameters = 8, kEntry = 16, kAll = 31 };

TEST_F(RemoveInstalledInfsTest, SlotZeroDecidesWhetherAnythingIsDeleted) {
  struct Case {
    const char* name;
    std::function<void()> change;
    bool result;
    int left;
  };
  const Case cases[] = {
      {"slot 0 only", [&] { DeleteSlot("RenamedInf1"); }, true, kOem2},
      {"slot 1 without a NUL in 512 bytes", [&] { SetSlot("RenamedInf1", std::string(512, 'C')); }, true,
       kOem2},
      {"product key with another subkey", [&] { CreateKey(std::string(where::kProductKey) + "\\Extra"); },
       true, kProduct},
      {"no Add/Remove list", [&] { DeleteKey("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "Uninstall"); },
       false, kGone},
      {"slot 1 only", [&] { DeleteSlot("RenamedInf"); }, false, kAll},
      {"slot 0 without a NUL in 512 bytes", [&] { SetSlot("RenamedInf", std::string(512, 'C')); }, false,
       kAll},
      {"slot 0 longer than 512 bytes", [&] { SetSlot("RenamedInf", "C:\\Windows\\INF\\oem1.inf", 600); },
       false, kAll},
      {"no Parameters key", [&] { DeleteKey(where::kProductKey, "Parameters"); }, false, kAll & ~kParameters},
      {"strings not loaded", [] { sim::FailCall("LoadStringA", {}, 2); }, false, kAll},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SeedRecordedInstall();
    c.change();

    EXPECT_EQ(Output([this, &c] { EXPECT_EQ(RemoveInstalledInfs(state_), c.result); }), "");

    for (int i = 0; i < 2; ++i) {
      const std::string base = "C:\\Windows\\INF\\oem" + std::to_string(i + 1);
      EXPECT_EQ(FileExists(base + ".inf"), (c.left & (kOem1 << i)) != 0) << base;
      EXPECT_EQ(FileExists(base + ".pnf"), (c.left & (kOem1 << i)) != 0) << base;
    }
    EXPECT_EQ(KeyExists(where::kProductKey), (c.left & kProduct) != 0);
    EXPECT_EQ(KeyExists(where::kParametersKey), (c.left & kParameters) != 0);
    EXPECT_EQ(KeyExists(where::kEntryKey), (c.left & kEntry) != 0);
    EXPECT_TRUE(FileExists("C:\\Windows\\INF\\oem7.pnf"));
    EXPECT_TRUE(KeyExists("SOFTWARE\\Orvix\\OtherProduct"));
  }
}

TEST_F(RemoveInstalledInfsTest, EveryFailedCallReleasesTheRecordKeys) {
  ExpectHandlesClosedWhenAnyCallFails([this] { SeedRecordedInstall(); },
                                      [this] { RemoveInstalledInfs(state_); });
}

class RemoveUninstallKeysTest : public SimMachineTest {
 protected:
  // Our keys with more below them than one level, among keys of others.
  void SeedInstalledMachine() {
    CreateKey("SOFTWARE\\Orvix\\qnetprep\\Parameters\\Deeper");
    CreateKey(std::string(where::kEntryKey) + "\\Sub");
    CreateKey(std::string(where::kListKey) + "\\Lumora\\Sub");
    CreateKey(std::string(where::kSupportedList) + "\\1E7C");
    CreateKey(std::string(where::kListKey) + "\\OtherApp");
    CreateKey("SOFTWARE\\Halvex\\qnetprep");
    sim::ResetCalls();
  }
  RunState state_{};
};

TEST_F(RemoveUninstallKeysTest, RemovesOurKeysWholeAndSkipsOnlyAKeyThatCannotBeOpened) {
  ASSERT_TRUE(LoadResourceStrings(state_));
  struct Case {
    uint32_t failedOpen;  // 0: none
    bool productGone;
    bool entriesGone;
  };
  for (const Case& c : {Case{0, true, true}, Case{1, false, true}, Case{2, true, false}}) {
    SCOPED_TRACE("failed open " + std::to_string(c.failedOpen));
    SeedInstalledMachine();
    if (c.failedOpen != 0) sim::FailCall("RegOpenKeyExA", {}, c.failedOpen);

    RemoveUninstallKeys(state_);

    EXPECT_EQ(KeyExists(where::kProductKey), !c.productGone);
    EXPECT_EQ(KeyExists(where::kEntryKey), !c.entriesGone);
    EXPECT_EQ(KeyExists(std::string(where::kListKey) + "\\Lumora"), !c.entriesGone);
    EXPECT_TRUE(KeyExists(std::string(where::kSupportedList) + "\\1E7C"));
    EXPECT_TRUE(KeyExists(std::string(where::kListKey) + "\\OtherApp"));
    EXPECT_TRUE(KeyExists("SOFTWARE\\Halvex\\qnetprep"));
  }
  ExpectHandlesClosedWhenAnyCallFails([this] { SeedInstalledMachine(); },
                                      [this] { RemoveUninstallKeys(state_); });
}

}  // namespace
