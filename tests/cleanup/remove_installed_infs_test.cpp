// Undoing an earlier recorded install: the stored INF files named by the slots, the
// record keys one level each and the Add/Remove entry.
#include "cleanup/remove_installed_infs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
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

  void DeleteValue(const std::string& keyPath, const char* name) {
    sim::DeleteValue(*sim::FindKeyPath(sim::TheMachine().localMachine, keyPath), name);
  }

  // Drops every key and file that a case seeds, and the call log.
  void ForgetEverything() {
    const auto software = sim::FindKeyPath(sim::TheMachine().localMachine, "SOFTWARE");
    if (software != nullptr) sim::DeleteSubkeyTree(*software, "Orvix");
    const auto list = sim::FindKeyPath(sim::TheMachine().localMachine, kListKey);
    if (list != nullptr) sim::DeleteSubkeyTree(*list, "qnetprep");
    std::filesystem::remove_all(LinuxPath("C:\\Windows\\INF"));
    std::filesystem::create_directories(LinuxPath("C:\\Windows\\INF"));
    sim::ResetCalls();
  }

  static std::vector<std::string> Calls(const std::string& name) {
    std::vector<std::string> details;
    for (const sim::CallRecord& call : sim::CallLog()) {
      if (call.name == name) details.push_back(call.detail);
    }
    return details;
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

TEST_F(RemoveInstalledInfsTest, WithoutAReadableSlotZeroNothingIsTouched) {
  const std::string unterminated(512, 'C');
  const std::vector<uint8_t> overlong = SlotData("C:\\Windows\\INF\\oem1.inf", 600);
  struct Case {
    const char* name;
    std::function<void()> seed;
  };
  const Case cases[] = {
      {"a first run", [&] { CreateKey(kVendorKey); }},
      {"no Parameters key", [&] { SetString(kProductKey, "Install", "Success"); }},
      {"slot 1 only",
       [&] {
         SeedRecordedInstall();
         DeleteValue(kParametersKey, "RenamedInf");
       }},
      {"slot 0 without a NUL in 512 bytes",
       [&] {
         SeedRecordedInstall();
         SetSlot("RenamedInf", SlotData(unterminated));
       }},
      {"slot 0 longer than 512 bytes",
       [&] {
         SeedRecordedInstall();
         SetSlot("RenamedInf", overlong);
       }},
      {"strings not loaded",
       [&] {
         SeedRecordedInstall();
         sim::FailCall("LoadStringA", sim::Fault{ERROR_RESOURCE_NAME_NOT_FOUND}, 2);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ForgetEverything();
    SetString(kEntryKey, "DisplayName", "Orvix adapter installation program");
    c.seed();
    const bool hadProductKey = KeyExists(kProductKey);
    const bool hadParametersKey = KeyExists(kParametersKey);

    EXPECT_FALSE(Remove());

    EXPECT_EQ(KeyExists(kProductKey), hadProductKey);
    EXPECT_EQ(KeyExists(kParametersKey), hadParametersKey);
    EXPECT_TRUE(KeyExists(kEntryKey));
    EXPECT_TRUE(Calls("DeleteFileA").empty());
    EXPECT_EQ(output_, "");
    ExpectNoOpenHandles();
  }
}

TEST_F(RemoveInstalledInfsTest, SlotZeroAloneIsEnough) {
  SeedRecordedInstall();
  DeleteValue(kParametersKey, "RenamedInf1");

  EXPECT_TRUE(Remove());

  EXPECT_FALSE(FileExists("C:\\Windows\\INF\\oem1.inf"));
  EXPECT_FALSE(FileExists("C:\\Windows\\INF\\oem1.pnf"));
  EXPECT_TRUE(FileExists("C:\\Windows\\INF\\oem2.inf"));
  EXPECT_TRUE(FileExists("C:\\Windows\\INF\\oem2.pnf"));
  EXPECT_FALSE(KeyExists(kProductKey));
  EXPECT_FALSE(KeyExists(kEntryKey));
  ExpectOthersKept();
}

TEST_F(RemoveInstalledInfsTest, AnUnreadableSlotOneIsSkipped) {
  SeedRecordedInstall();
  SetSlot("RenamedInf1", SlotData(std::string(512, 'C')));

  EXPECT_TRUE(Remove());

  EXPECT_FALSE(FileExists("C:\\Windows\\INF\\oem1.inf"));
  EXPECT_TRUE(FileExists("C:\\Windows\\INF\\oem2.inf"));
  EXPECT_EQ(Calls("DeleteFileA"),
            (std::vector<std::string>{"C:\\Windows\\INF\\oem1.inf", "C:\\Windows\\INF\\oem1.pnf"}));
  EXPECT_FALSE(KeyExists(kProductKey));
}

TEST_F(RemoveInstalledInfsTest, KeysAreRemovedOneLevelAtATime) {
  SeedRecordedInstall();
  CreateKey(std::string(kProductKey) + "\\Extra");

  EXPECT_TRUE(Remove());

  // The product key holds more than Parameters and stays; the rest goes as usual.
  EXPECT_FALSE(KeyExists(kParametersKey));
  EXPECT_TRUE(KeyExists(std::string(kProductKey) + "\\Extra"));
  EXPECT_EQ(GetString(kProductKey, "Install"), "Success");
  EXPECT_FALSE(FileExists("C:\\Windows\\INF\\oem2.inf"));
  EXPECT_FALSE(KeyExists(kEntryKey));
  ExpectNoOpenHandles();
}

TEST_F(RemoveInstalledInfsTest, WithoutTheAddRemoveListTheRecordsAreStillRemoved) {
  SeedRecordedInstall();
  sim::DeleteSubkeyTree(
      *sim::FindKeyPath(sim::TheMachine().localMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion"),
      "Uninstall");

  EXPECT_FALSE(Remove());

  EXPECT_FALSE(FileExists("C:\\Windows\\INF\\oem1.inf"));
  EXPECT_FALSE(FileExists("C:\\Windows\\INF\\oem2.pnf"));
  EXPECT_FALSE(KeyExists(kProductKey));
  EXPECT_FALSE(KeyExists(kListKey));
  ExpectNoOpenHandles();
}

TEST_F(RemoveInstalledInfsTest, EveryCallThatFailsLeavesNoHandleOpen) {
  SeedRecordedInstall();
  ASSERT_TRUE(Remove());
  const std::vector<sim::CallRecord> calls = sim::CallLog();
  for (uint32_t k = 1; k <= calls.size(); ++k) {
    // A close that fails leaves its handle open whatever the caller does.
    if (calls[k - 1].name == "RegCloseKey") continue;
    SCOPED_TRACE("call " + std::to_string(k));
    ForgetEverything();
    SeedRecordedInstall();
    sim::FailCallNumber(k, sim::Fault{ERROR_ACCESS_DENIED});
    Remove();
    ExpectNoOpenHandles();
  }
}

}  // namespace
