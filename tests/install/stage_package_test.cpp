// Staging the package into the install folder: what is copied, in which order, from
// where to where, and what an earlier staging keeps.
#include "install/stage_package.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/resource_strings.h"
#include "platform/text.h"
#include "tests/install/package_fixture.h"

namespace {

class StagePackageTest : public PackageTest {
 protected:
  void SetUp() override {
    PackageTest::SetUp();
    ASSERT_TRUE(LoadResourceStrings(state_));
    TextCopy(state_.SourceFolder, "C:\\pkg");
  }

  std::vector<std::string> StagedNames(const std::string& folder = kInstallFolder) {
    std::vector<std::string> staged;
    for (const std::string& name : ListedPackageFiles()) {
      if (FileExists(folder + name)) staged.push_back(name);
    }
    return staged;
  }
};

TEST_F(StagePackageTest, CopiesTheListedFilesInOrderAndNothingElse) {
  WritePackage();
  WriteProgram();
  WriteFile("C:\\pkg\\readme.txt", "not part of the package");

  StagePackageFiles(state_);

  EXPECT_STREQ(state_.InstallFolder, kInstallFolder);
  for (const std::string& name : ListedPackageFiles()) {
    EXPECT_EQ(ReadFile(kInstallFolder + name), PackageFileText(name, "v1")) << name;
  }
  EXPECT_FALSE(FileExists(std::string(kInstallFolder) + "readme.txt"));
  EXPECT_FALSE(FileExists(std::string(kInstallFolder) + "qnetprep.exe"));

  // The empty INF argument comes first and names the install folder itself.
  std::vector<std::string> expected = {"C:\\pkg\\ -> C:\\Program Files\\Orvix\\qnetprep\\"};
  for (const std::string& name : ListedPackageFiles()) {
    expected.push_back("C:\\pkg\\" + name + " -> C:\\Program Files\\Orvix\\qnetprep\\" + name);
  }
  EXPECT_EQ(Calls("CopyFileA"), expected);
  EXPECT_EQ(Calls("CreateDirectoryA"),
            (std::vector<std::string>{"C:\\Program Files\\Orvix", "C:\\Program Files\\Orvix\\qnetprep"}));
  ExpectNoOpenHandles();
}

TEST_F(StagePackageTest, APartialPackageStagesWhatItHolds) {
  WriteFile("C:\\pkg\\net7341a.inf", "a");
  WriteFile("C:\\pkg\\RX90K.SYS", "sys");

  StagePackageFiles(state_);

  EXPECT_EQ(StagedNames(), (std::vector<std::string>{"net7341a.inf", "RX90K.SYS"}));
}

TEST_F(StagePackageTest, AnEarlierStagingKeepsItsFilesAndLosesOnlyItsAttributes) {
  WritePackage("v1");
  StagePackageFiles(state_);
  const std::string staged = kInstallFolder;
  SetAttributes(staged + "RX90K.SYS", FILE_ATTRIBUTE_READONLY);
  SetAttributes(staged + "net7341a.inf", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  std::filesystem::remove(LinuxPath(staged + "OrvixNic.dll"));

  // A newer package over the older staging.
  WritePackage("v2");
  StagePackageFiles(state_);

  EXPECT_EQ(ReadFile(staged + "RX90K.SYS"), "RX90K.SYS v1");
  EXPECT_EQ(ReadFile(staged + "net7341a.inf"), PackageFileText("net7341a.inf", "v1"));
  EXPECT_EQ(ReadFile(staged + "OrvixNic.dll"), "OrvixNic.dll v2");
  EXPECT_EQ(Attributes(staged + "RX90K.SYS"), 0u);
  EXPECT_EQ(Attributes(staged + "net7341a.inf"), 0u);
}

TEST_F(StagePackageTest, TheInstallFolderFollowsProgramFiles) {
  WriteFile("C:\\pkg\\net7341a.inf", "a");
  std::filesystem::create_directories(folder_ + "/drive_d/Apps");
  const std::string tooLong = "D:\\" + std::string(257, 'x');  // 260 characters: no room for the NUL
  const std::string longest = "D:\\" + std::string(256, 'x');  // 259 characters: fits
  struct Case {
    const char* name;
    const char* value;  // nullptr: the variable is absent
    std::string installFolder;
  };
  const Case cases[] = {
      {"absent", nullptr, kInstallFolder},
      {"empty", "", kInstallFolder},
      {"another drive", "D:\\Apps", "D:\\Apps\\Orvix\\qnetprep\\"},
      {"root of a drive", "D:\\", "D:\\Orvix\\qnetprep\\"},
      {"too long to read", tooLong.c_str(), kInstallFolder},
      {"longest readable", longest.c_str(), longest + "\\Orvix\\qnetprep\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.value != nullptr) {
      setenv("ProgramFiles", c.value, 1);
    } else {
      unsetenv("ProgramFiles");
    }
    sim::ResetCalls();

    StagePackageFiles(state_);

    EXPECT_EQ(state_.InstallFolder, c.installFolder);
    if (c.installFolder.size() + std::strlen("net7341a.inf") < MAX_PATH) {
      EXPECT_EQ(ReadFile(c.installFolder + "net7341a.inf"), "a");
    } else {
      // No destination fits MAX_PATH: nothing is touched, and no shorter path is tried.
      EXPECT_TRUE(Calls("CopyFileA").empty());
      EXPECT_TRUE(Calls("SetFileAttributesA").empty());
    }
  }
}

TEST_F(StagePackageTest, ASourceFolderAtTheRootOfADriveGivesPlainPaths) {
  TextCopy(state_.SourceFolder, "C:\\");
  WriteFile("C:\\net7341a.inf", "from the root");

  StagePackageFiles(state_);

  EXPECT_EQ(ReadFile(std::string(kInstallFolder) + "net7341a.inf"), "from the root");
  const std::vector<std::string> copies = Calls("CopyFileA");
  ASSERT_EQ(copies.size(), 18u);
  EXPECT_EQ(copies[4], "C:\\net7341a.inf -> C:\\Program Files\\Orvix\\qnetprep\\net7341a.inf");
}

TEST_F(StagePackageTest, AnInfArgumentIsStagedFirstAndKeepsItsFolderPart) {
  WriteFile("C:\\pkg\\extra.inf", "extra");
  WriteFile("C:\\pkg\\sub\\nested.inf", "nested");

  TextCopy(state_.InfArgument, "extra.inf");
  StagePackageFiles(state_);
  EXPECT_EQ(ReadFile(std::string(kInstallFolder) + "extra.inf"), "extra");
  EXPECT_EQ(Calls("CopyFileA").front(),
            "C:\\pkg\\extra.inf -> C:\\Program Files\\Orvix\\qnetprep\\extra.inf");

  // The folder part names a subfolder on both sides; only an existing one receives it.
  TextCopy(state_.InfArgument, "sub\\nested.inf");
  StagePackageFiles(state_);
  EXPECT_FALSE(FileExists(std::string(kInstallFolder) + "sub\\nested.inf"));
  std::filesystem::create_directories(LinuxPath(kInstallFolder) + "/sub");
  StagePackageFiles(state_);
  EXPECT_EQ(ReadFile(std::string(kInstallFolder) + "sub\\nested.inf"), "nested");
}

TEST_F(StagePackageTest, APathThatDoesNotFitIsNeverShortened) {
  const std::string folder = "C:\\" + std::string(240, 'f') + "\\";  // 244 characters
  const std::string name = std::string(20, 'n');                     // 264 with the folder
  sim::ResetCalls();
  CopyPackageFile(folder.c_str(), "C:\\pkg\\", name.c_str());
  EXPECT_EQ(sim::CallCount(), 0u);

  // The destination fits but the source does not: the staged file's attributes are
  // still cleared, and nothing is copied.
  const std::string longPrefix = "C:\\" + std::string(250, 'p') + "\\";
  WriteFile("C:\\staged\\file.sys", "old");
  SetAttributes("C:\\staged\\file.sys", FILE_ATTRIBUTE_READONLY);
  CopyPackageFile("C:\\staged\\", longPrefix.c_str(), "file.sys");
  EXPECT_EQ(Calls("SetFileAttributesA"), std::vector<std::string>{"C:\\staged\\file.sys"});
  EXPECT_TRUE(Calls("CopyFileA").empty());
  EXPECT_EQ(Attributes("C:\\staged\\file.sys"), 0u);
}

}  // namespace
