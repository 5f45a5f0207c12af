// Staging, the self-copy and the pre-install of one INF: the outcomes and failure exits
// that whole runs cannot show. What whole runs leave is checked by the scenarios.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/resource_strings.h"
#include "install/install_inf.h"
#include "platform/text.h"
#include "install/self_copy.h"
#include "install/stage_package.h"
#include "platform/text.h"
#include "tests/support/sim_machine.h"

namespace {

class InstallTest : public SimMachineTest {
 protected:
  void SetUp() override {
    SimMachineTest::SetUp();
    ASSERT_TRUE(LoadResourceStrings(state_));
    WritePackage();
  }

  // Drops the records, the entry and the stored INFs of earlier installs, and the call log.
  void ForgetEarlierInstalls() {
    std::filesystem::remove_all(LinuxPath("C:\\Windows\\INF"));
    std::filesystem::create_directories(LinuxPath("C:\\Windows\\INF"));
    const auto software = sim::FindKeyPath(sim::TheMachine().localMachine, "SOFTWARE");
    sim::DeleteSubkeyTree(*software, "Orvix");
    sim::DeleteSubkeyTree(*sim::FindKeyPath(software, "Microsoft\\Windows\\CurrentVersion\\Uninstall"),
                          "qnetprep");
    sim::ResetCalls();
  }

  RunState state_{};
};

// A "ProgramFiles" that does not fit its 260 characters counts as absent; an install
// folder too long for its files' paths stages nothing rather than shortened paths.
TEST(PackageNames, ANameThatClimbsAboveItsFolderIsRefused) {
  struct Row {
    const char* name;
    bool stays;
  };
  const Row rows[] = {
      {"net.inf", true},
      {"sub\\net.inf", true},
      {"..inf", true},
      {".\\net.inf", true},
      {"a..b\\net.inf", true},
      {"", true},
      {"..", false},
      {"..\\net.inf", false},
      {"sub/../../net.inf", false},
      {"sub\\...\\net.inf", false},
      {".. \\net.inf", false},
      {"sub\\..", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(StaysWithinFolder(row.name), row.stays);
  }
}

TEST_F(InstallTest, TheInstallFolderFollowsProgramFiles) {
  std::filesystem::create_directories(folder_ + "/drive_d/Apps");
  const std::string tooLong = "D:\\" + std::string(257, 'x');  // 260 characters
  const std::string longest = "D:\\" + std::string(256, 'x');  // 259 characters
  struct Case {
    const char* value;
    std::string installFolder;
  };
  const Case cases[] = {
      {"", where::kInstallFolder},
      {"D:\\Apps", "D:\\Apps\\Orvix\\qnetprep\\"},
      {"D:\\", "D:\\Orvix\\qnetprep\\"},
      {tooLong.c_str(), where::kInstallFolder},
      {longest.c_str(), longest + "\\Orvix\\qnetprep\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    SetProgramFiles(c.value);
    TextCopy(state_.SourceFolder, "C:\\pkg");
    sim::ResetCalls();

    StagePackageFiles(state_);

    EXPECT_EQ(state_.InstallFolder, c.installFolder);
    const bool fits = c.installFolder.size() + std::strlen("net7341a.inf") < MAX_PATH;
    EXPECT_EQ(Calls("CopyFileA").empty(), !fits);
    if (!fits) continue;
    EXPECT_EQ(ReadFile(c.installFolder + "net7341a.inf"), PackageFileText("net7341a.inf", "v1"));
  }

  // A source path that does not fit is not shortened either.
  sim::ResetCalls();
  CopyPackageFile("C:\\staged\\", ("C:\\" + std::string(250, 'p') + "\\").c_str(), "file.sys");
  EXPECT_TRUE(Calls("CopyFileA").empty());
}

TEST_F(InstallTest, TheSelfCopyReportsFailuresInLowerCaseHexadecimalAndNeverStops) {
  struct Case {
    const char* name;
    bool program;
    bool olderCopy;
    const char* failedCall;
    DWORD error;
    std::string output;
    size_t copies;
    std::string copyAfter;  // "" when there is none
  };
  const Case cases[] = {
      {"no program, no older copy", false, false, nullptr, 0, "SetFileAttributes error, error value = 2", 1,
       ""},
      {"no program, older copy stays", false, true, nullptr, 0, "", 1, "older"},
      {"copy refused", true, true, "CopyFileA", 0x2f, "CopyFile error, error value = 2f", 1, "older"},
      {"copy finds nothing", true, true, "CopyFileA", ERROR_FILE_NOT_FOUND, "", 1, "older"},
      {"attributes refused", true, true, "SetFileAttributesA", 0xabc,
       "SetFileAttributes error, error value = abc", 1, "program"},
      {"no system folder", true, true, "GetSystemDirectoryA", ERROR_ACCESS_DENIED, "", 0, "older"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(LinuxPath("C:\\pkg\\qnetprep.exe"));
    std::filesystem::remove(LinuxPath(where::kSelfCopy));
    if (c.program) WriteFile("C:\\pkg\\qnetprep.exe", "program");
    if (c.olderCopy) WriteFile(where::kSelfCopy, "older");
    sim::ResetCalls();
    if (c.failedCall != nullptr) sim::FailCall(c.failedCall, sim::Fault{c.error});

    EXPECT_EQ(Output([this] { CopySelfToSystemFolder(state_); }), c.output);

    EXPECT_EQ(Calls("CopyFileA").size(), c.copies);
    EXPECT_EQ(FileExists(where::kSelfCopy) ? ReadFile(where::kSelfCopy) : "", c.copyAfter);
  }
}

// Outside RecordMode the result is the pre-install's; in RecordMode only the full copy,
// not the catalog pass, decides what "Install" says.
TEST_F(InstallTest, TheOutcomeIsTheFullCopysAndOnlyARecordedOneIsWrittenDown) {
  const std::string tooLong(500, 'n');
  struct Case {
    const char* name;
    bool record;
    const char* inf;
    const char* failedCall;
    sim::Fault fault;
    bool result;
    size_t preInstalls;
    std::string install;
    bool staged;
  };
  const sim::Fault needsMore{0, true, MAX_PATH + 1};  // the size that a longer folder needs
  const Case cases[] = {
      {"not recorded, pre-installed", false, "net7341a.inf", nullptr, {}, true, 2, "", true},
      {"not recorded, not pre-installed", false, "absent.inf", nullptr, {}, false, 2, "", true},
      {"catalog pass fails", true, "net7341a.inf", "SetupCopyOEMInfA", {}, true, 2, "Success", true},
      {"install folder + name too long", true, tooLong.c_str(), nullptr, {}, false, 0, "Fail", true},
      {"current folder unreadable", true, "net7341a.inf", "GetCurrentDirectoryA", {}, false, 0, "", false},
      {"current folder too long", true, "net7341a.inf", "GetCurrentDirectoryA", needsMore, false, 0, "",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ForgetEarlierInstalls();
    if (c.failedCall != nullptr) sim::FailCall(c.failedCall, c.fault, 1);
    state_.RecordMode = c.record;
    bool result = !c.result;
    Output([&] { result = InstallInf(state_, c.inf); });

    EXPECT_EQ(result, c.result);
    EXPECT_EQ(Calls("SetupCopyOEMInfA").size(), c.preInstalls);
    EXPECT_EQ(GetString(where::kProductKey, "Install"), c.install);
    EXPECT_EQ(GetString(where::kParametersKey, "RenamedInf"),
              c.record && c.result ? "C:\\Windows\\INF\\oem0.inf" : "");
    EXPECT_EQ(KeyExists(where::kProductKey), c.record && c.staged);
    EXPECT_EQ(KeyExists(where::kVendorKey), c.staged);
    EXPECT_EQ(Calls("CreateDirectoryA").empty(), !c.staged);
  }
}

// Each failure exit of a recorded install returns false and leaves the later steps
// undone: of what a recorded install makes, in order, only the first `made` exist.
TEST_F(InstallTest, EveryFailureExitReturnsFalseAndStopsThere) {
  struct Case {
    const char* call;
    uint32_t occurrence;
    int made;
  };
  const Case cases[] = {
      {"LoadStringA", 3, 0},     {"RegOpenKeyExA", 1, 0},   {"RegCreateKeyExA", 1, 0},
      {"RegCreateKeyExA", 2, 1}, {"RegCreateKeyExA", 3, 2}, {"SetupCopyOEMInfA", 2, 3},
      {"RegSetValueExA", 4, 3},  {"RegOpenKeyExA", 2, 4},   {"RegCreateKeyExA", 4, 4},
      {"RegSetValueExA", 5, 5},  {"RegSetValueExA", 6, 6},
  };
  state_.RecordMode = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.call) + " #" + std::to_string(c.occurrence));
    ForgetEarlierInstalls();
    sim::FailCall(c.call, sim::Fault{ERROR_ACCESS_DENIED}, c.occurrence);

    EXPECT_FALSE(InstallInf(state_, "net7341a.inf"));

    const bool made[] = {KeyExists(where::kVendorKey),
                         KeyExists(where::kProductKey),
                         KeyExists(where::kParametersKey),
                         HasValue(where::kParametersKey, "RenamedInf"),
                         KeyExists(where::kEntryKey),
                         HasValue(where::kEntryKey, "DisplayName"),
                         HasValue(where::kEntryKey, "UninstallString")};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(made[i], i < c.made) << "item " << i;
    EXPECT_TRUE(Calls("GetSystemDirectoryA").empty()) << "no self-copy";
  }
}

TEST_F(InstallTest, EveryFailedCallReleasesTheKeysOfTheInstall) {
  for (const bool recordMode : {false, true}) {
    SCOPED_TRACE(recordMode ? "recorded" : "not recorded");
    state_.RecordMode = recordMode;
    ExpectHandlesClosedWhenAnyCallFails([this] { ForgetEarlierInstalls(); },
                                        [this] { InstallInf(state_, "net7341a.inf"); });
  }
}

}  // namespace
