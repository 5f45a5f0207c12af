// Pre-installing one INF, with and without records: what each mode leaves in the
// registry, the INF store and the system folder, and every failure exit.
#include "install/install_inf.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/install/package_fixture.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class InstallInfTest : public PackageTest {
 protected:
  void SetUp() override {
    PackageTest::SetUp();
    WritePackage();
    WriteProgram();
  }

  bool Install(const char* infName, bool recordMode) {
    state_.RecordMode = recordMode;
    CaptureStdout();
    const bool result = InstallInf(state_, infName);
    output_ = GetCapturedStdout();
    return result;
  }

  // The stored copy that a pre-install made of the staged INF.
  std::string StoredContent(const std::string& storedPath) { return ReadFile(storedPath); }

  // Drops the records and the entry of earlier installs, and the call log.
  void ForgetEarlierInstalls() {
    const auto software = sim::FindKeyPath(sim::TheMachine().localMachine, "SOFTWARE");
    sim::DeleteSubkeyTree(*software, "Orvix");
    const auto list = sim::FindKeyPath(software, "Microsoft\\Windows\\CurrentVersion\\Uninstall");
    if (list != nullptr) sim::DeleteSubkeyTree(*list, "qnetprep");
    sim::ResetCalls();
  }

  std::string output_;
};

TEST_F(InstallInfTest, WithoutRecordsOnlyTheVendorKeyIsLeft) {
  EXPECT_TRUE(Install("net7341a.inf", false));

  EXPECT_TRUE(KeyExists("SOFTWARE\\Orvix"));
  EXPECT_FALSE(KeyExists(kProductKey));
  EXPECT_FALSE(KeyExists(kEntryKey));
  EXPECT_FALSE(FileExists(kSelfCopy));
  EXPECT_EQ(output_, "");
  EXPECT_EQ(ReadFile(std::string(kInstallFolder) + "net73417.inf"), PackageFileText("net73417.inf", "v1"));
  EXPECT_EQ(StoredContent("C:\\Windows\\INF\\oem0.inf"), PackageFileText("net7341a.inf", "v1"));
  // Both passes start from the staged copy; the catalog-only one comes first.
  EXPECT_EQ(Calls("SetupCopyOEMInfA"),
            (std::vector<std::string>{"C:\\Program Files\\Orvix\\qnetprep\\net7341a.inf style=0x40000",
                                      "C:\\Program Files\\Orvix\\qnetprep\\net7341a.inf style=0x0"}));
  ExpectNoOpenHandles();

  // A pre-install that fails is reported as such, and still leaves no records.
  EXPECT_FALSE(Install("absent.inf", false));
  EXPECT_FALSE(KeyExists(kProductKey));
  EXPECT_FALSE(FileExists("C:\\Windows\\INF\\oem1.inf"));
  ExpectNoOpenHandles();
}

TEST_F(InstallInfTest, RecordedInstallsFillSlotZeroThenOneThenStop) {
  EXPECT_TRUE(Install("net7341a.inf", true));

  ExpectRecord(kProductKey, "Install", "Success");
  ExpectRecord(kProductKey, "reboot", "reboot");
  ExpectRecord(kProductKey, "Version", "0.0.3.6");
  ExpectRecord(kParametersKey, "RenamedInf", "C:\\Windows\\INF\\oem0.inf");
  EXPECT_FALSE(HasValue(kParametersKey, "RenamedInf1"));
  EXPECT_EQ(StoredContent("C:\\Windows\\INF\\oem0.inf"), PackageFileText("net7341a.inf", "v1"));
  // Written with the text's length; the platform keeps the NUL that follows the text.
  uint32_t type = 0;
  std::vector<uint8_t> data;
  ASSERT_TRUE(GetValue(kEntryKey, "DisplayName", &type, &data));
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(std::string(data.begin(), data.end()), std::string("Orvix adapter installation program") + '\0');
  ASSERT_TRUE(GetValue(kEntryKey, "UninstallString", &type, &data));
  EXPECT_EQ(std::string(data.begin(), data.end()), std::string("qnetprep.exe /u") + '\0');
  // The first self-copy finds no older copy to clear, and says so.
  EXPECT_EQ(output_, "SetFileAttributes error, error value = 2");
  EXPECT_EQ(ReadFile(kSelfCopy), "program image");
  ExpectNoOpenHandles();

  // The second finds slot 0 taken; an older read-only self-copy is replaced silently.
  SetAttributes(kSelfCopy, FILE_ATTRIBUTE_READONLY);
  WriteProgram();
  EXPECT_TRUE(Install("net73417.inf", true));
  ExpectRecord(kParametersKey, "RenamedInf", "C:\\Windows\\INF\\oem0.inf");
  ExpectRecord(kParametersKey, "RenamedInf1", "C:\\Windows\\INF\\oem1.inf");
  EXPECT_EQ(StoredContent("C:\\Windows\\INF\\oem1.inf"), PackageFileText("net73417.inf", "v1"));
  EXPECT_EQ(output_, "");
  EXPECT_EQ(Attributes(kSelfCopy), 0u);
  ExpectNoOpenHandles();

  // With both slots taken a third stored INF could never be removed: nothing happens.
  sim::ResetCalls();
  EXPECT_FALSE(Install("net7341a.inf", true));
  EXPECT_TRUE(Calls("SetupCopyOEMInfA").empty());
  EXPECT_TRUE(Calls("RegSetValueExA").empty());
  EXPECT_FALSE(FileExists("C:\\Windows\\INF\\oem2.inf"));
  ExpectNoOpenHandles();
}

TEST_F(InstallInfTest, AFailedRecordedPreInstallRecordsFailAndKeepsTheLastSuccess) {
  ASSERT_TRUE(Install("net7341a.inf", true));
  std::filesystem::remove(LinuxPath(kSelfCopy));
  sim::ResetCalls();

  EXPECT_FALSE(Install("absent.inf", true));

  ExpectRecord(kProductKey, "Install", "Fail");
  ExpectRecord(kProductKey, "reboot", "reboot");
  ExpectRecord(kProductKey, "Version", "0.0.3.6");
  EXPECT_FALSE(HasValue(kParametersKey, "RenamedInf1"));
  // No refreshed entry and no self-copy after a failure.
  EXPECT_TRUE(Calls("GetSystemDirectoryA").empty());
  EXPECT_FALSE(FileExists(kSelfCopy));
  EXPECT_EQ(output_, "");
  ExpectNoOpenHandles();
}

TEST_F(InstallInfTest, AnEmptyOrOverlongNameStagesButPreInstallsNothing) {
  EXPECT_FALSE(Install("", true));
  ExpectRecord(kProductKey, "Install", "Fail");
  EXPECT_FALSE(HasValue(kParametersKey, "RenamedInf"));
  EXPECT_EQ(ReadFile(std::string(kInstallFolder) + "net7341a.inf"), PackageFileText("net7341a.inf", "v1"));
  EXPECT_FALSE(FileExists("C:\\Windows\\INF\\oem0.inf"));

  // Install folder + name does not fit: the pre-install fails without a shortened path.
  const std::string overlong(500, 'n');
  sim::ResetCalls();
  EXPECT_FALSE(Install(overlong.c_str(), true));
  EXPECT_TRUE(Calls("SetupCopyOEMInfA").empty());
  ExpectRecord(kProductKey, "Install", "Fail");
  ExpectNoOpenHandles();
}

TEST_F(InstallInfTest, OnlyTheFullCopyDecidesTheOutcome) {
  sim::FailCall("SetupCopyOEMInfA", sim::Fault{ERROR_ACCESS_DENIED}, 1);
  EXPECT_TRUE(Install("net7341a.inf", true));
  ExpectRecord(kProductKey, "Install", "Success");
  ExpectRecord(kParametersKey, "RenamedInf", "C:\\Windows\\INF\\oem0.inf");

  sim::ResetCalls();
  sim::FailCall("SetupCopyOEMInfA", sim::Fault{ERROR_ACCESS_DENIED}, 2);
  EXPECT_FALSE(Install("net73417.inf", true));
  ExpectRecord(kProductKey, "Install", "Fail");
  EXPECT_FALSE(HasValue(kParametersKey, "RenamedInf1"));
}

TEST_F(InstallInfTest, AnUnreadableCurrentFolderStagesAndInstallsNothing) {
  const sim::Fault faults[] = {
      sim::Fault{ERROR_ACCESS_DENIED}, sim::Fault{0, true, MAX_PATH + 1},  // the size a longer folder needs
  };
  for (const sim::Fault& fault : faults) {
    sim::ResetCalls();
    sim::FailCall("GetCurrentDirectoryA", fault);
    EXPECT_FALSE(Install("net7341a.inf", true));
    EXPECT_FALSE(FolderExists("C:\\Program Files\\Orvix"));
    EXPECT_TRUE(Calls("CopyFileA").empty());
    EXPECT_TRUE(Calls("SetupCopyOEMInfA").empty());
    EXPECT_FALSE(KeyExists("SOFTWARE\\Orvix"));
  }
}

// Each failure exit returns false, closes what it opened and leaves the later steps
// undone.
TEST_F(InstallInfTest, EveryFailureExitReturnsFalseAndStopsThere) {
  const char* const recordKeys[] = {"SOFTWARE\\Orvix", kProductKey, kParametersKey};
  struct Case {
    const char* call;
    uint32_t occurrence;
    int recordKeysCreated;
    bool slotWritten;
    bool entryCreated;
    bool displayNameSet;
  };
  const Case cases[] = {
      {"LoadStringA", 3, 0, false, false, false},     {"RegOpenKeyExA", 1, 0, false, false, false},
      {"RegCreateKeyExA", 1, 0, false, false, false}, {"RegCreateKeyExA", 2, 1, false, false, false},
      {"RegCreateKeyExA", 3, 2, false, false, false}, {"RegSetValueExA", 4, 3, false, false, false},
      {"RegOpenKeyExA", 2, 3, true, false, false},    {"RegCreateKeyExA", 4, 3, true, false, false},
      {"RegSetValueExA", 5, 3, true, true, false},    {"RegSetValueExA", 6, 3, true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.call) + " #" + std::to_string(c.occurrence));
    ForgetEarlierInstalls();
    sim::FailCall(c.call, sim::Fault{ERROR_ACCESS_DENIED}, c.occurrence);

    EXPECT_FALSE(Install("net7341a.inf", true));

    for (int i = 0; i < 3; ++i) EXPECT_EQ(KeyExists(recordKeys[i]), i < c.recordKeysCreated) << recordKeys[i];
    EXPECT_EQ(HasValue(kParametersKey, "RenamedInf"), c.slotWritten);
    EXPECT_EQ(KeyExists(kEntryKey), c.entryCreated);
    EXPECT_EQ(HasValue(kEntryKey, "DisplayName"), c.displayNameSet);
    EXPECT_FALSE(HasValue(kEntryKey, "UninstallString"));
    EXPECT_TRUE(Calls("GetSystemDirectoryA").empty());
    EXPECT_EQ(output_, "");
    ExpectNoOpenHandles();
  }
}

TEST_F(InstallInfTest, EveryCallThatFailsLeavesNoHandleOpen) {
  for (const bool recordMode : {false, true}) {
    sim::ResetCalls();
    ASSERT_TRUE(Install("net7341a.inf", recordMode));
    const std::vector<sim::CallRecord> calls = sim::CallLog();
    for (uint32_t k = 1; k <= calls.size(); ++k) {
      // A close that fails leaves its handle open whatever the caller does.
      if (calls[k - 1].name == "RegCloseKey") continue;
      SCOPED_TRACE("record mode " + std::to_string(recordMode) + ", call " + std::to_string(k));
      ForgetEarlierInstalls();
      sim::FailCallNumber(k, sim::Fault{ERROR_ACCESS_DENIED});
      Install("net7341a.inf", recordMode);
      ExpectNoOpenHandles();
    }
  }
}

}  // namespace
