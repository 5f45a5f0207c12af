// Undoing an earlier recorded install: the stored INF files named by the slots, the
// record keys one level each and the Add/Remove entry.
#include "cleanup/remove_installed_infs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/sim_machine.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

constexpr const char* kVendorKey = "SOFTWARE\\Orvix";
constexpr const char* kProductKey = "SOFTWARE\\Orvix\\qnetprep";
constexpr const char* kParametersKey = "SOFTWARE\\Orvix\\qnetprep\\Parameters";
constexpr const char* kListKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const char* kEntryKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qnetprep";

std::vector<uint8_t> SlotData(const std::string& text, size_t size = 512) {
  std::vector<uint8_t> data(size, 0);
  std::copy(text.begin(), text.end(), data.begin());
  return data;
}

class RemoveInstalledInfsTest : public SimMachineTest {
 protected:
  void SetSlot(const char* name, const std::vector<uint8_t>& data) {
    SetValueBytes(kParametersKey, name, REG_SZ, data);
  }

  void StoreInf(const std::string& base) {
    WriteFile("C:\\Windows\\INF\\" + base + ".inf", "inf");
    WriteFile("C:\\Windows\\INF\\" + base + ".pnf", "pnf");
  }

  // What a recorded default install leaves, among things that are not ours.
  void SeedRecordedInstall() {
    StoreInf("oem1");
    StoreInf("oem2");
    StoreInf("oem7");  // another product's
    SetString(kProductKey, "Install", "Success");
    SetSlot("RenamedInf", SlotData("C:\\Windows\\INF\\oem1.inf"));
    SetSlot("RenamedInf1", SlotData("C:\\Windows\\INF\\oem2.inf"));
    SetString(kEntryKey, "DisplayName", "Orvix adapter installation program");
    SetString(std::string(kListKey) + "\\OtherApp", "DisplayName", "Other");
    CreateKey("SOFTWARE\\Orvix\\OtherProduct");
  }

  bool Remove() {
    CaptureStdout();
    const bool removed = RemoveInstalledInfs(state_);
    output_ = GetCapturedStdout();
    return removed;
  }

  void ExpectOthersKept() {
    EXPECT_TRUE(FileExists("C:\\Windows\\INF\\oem7.inf"));
    EXPECT_TRUE(FileExists("C:\\Windows\\INF\\oem7.pnf"));
    EXPECT_TRUE(KeyExists("SOFTWARE\\Orvix\\OtherProduct"));
    EXPECT_TRUE(KeyExists(std::string(kListKey) + "\\OtherApp"));
  }

  RunState state_{};
  std::string output_;
};

TEST_F(RemoveInstalledInfsTest, DeletesBothRecordedInfsTheirRecordsAndTheEntry) {
  SeedRecordedInstall();

  EXPECT_TRUE(Remove());

  for (const char* file : {"oem1.inf", "oem1.pnf", "oem2.inf", "oem2.pnf"}) {
    EXPECT_FALSE(FileExists(std::string("C:\\Windows\\INF\\") + file)) << file;
  }
  EXPECT_FALSE(KeyExists(kProductKey));
  EXPECT_TRUE(KeyExists(kVendorKey));
  EXPECT_FALSE(KeyExists(kEntryKey));
  EXPECT_TRUE(KeyExists(kListKey));
  ExpectOthersKept();
  EXPECT_EQ(output_, "");
  ExpectNoOpenHandles();
}

TEST_F(RemoveInstalledInfsTest, WithoutSlotZeroNothingIsTouched) {
  struct Case {
    const char* name;
    void (*damage)(RemoveInstalledInfsTest&);
  };
  const Case cases[] = {
      {"no records at all", [](RemoveInstalledInfsTest& t) { t.SimMachineTest::TearDown(); t.SetUp(); }},
      {"slot 1 only", [](RemoveInstalledInfsTest& t) { t.SetSlot("RenamedInf", {}); }},
  };
  (void)cases;

  // A first run: no records at all.
  CreateKey(kVendorKey);
  SetString(kEntryKey, "DisplayName", "x");
  EXPECT_FALSE(Remove());
  EXPECT_TRUE(KeyExists(kEntryKey));
  EXPECT_FALSE(KeyExists(kProductKey));
  ExpectNoOpenHandles();
}

}  // namespace
