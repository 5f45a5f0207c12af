// The program's copy of itself in the system folder and the two error lines.
#include "install/self_copy.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/resource_strings.h"
#include "tests/install/package_fixture.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class SelfCopyTest : public PackageTest {
 protected:
  void SetUp() override {
    PackageTest::SetUp();
    ASSERT_TRUE(LoadResourceStrings(state_));
    sim::ResetCalls();
  }

  std::string CopySelf() {
    CaptureStdout();
    CopySelfToSystemFolder(state_);
    return GetCapturedStdout();
  }
};

TEST_F(SelfCopyTest, AFirstCopyReportsTheMissingOldCopyAndCopies) {
  WriteProgram();
  EXPECT_EQ(CopySelf(), "SetFileAttributes error, error value = 2");
  EXPECT_EQ(ReadFile(kSelfCopy), "program image");
  EXPECT_STREQ(state_.SystemFolder, "C:\\Windows\\System32");
  EXPECT_STREQ(state_.ExecutableName, "qnetprep.exe");
  // The source is the bare name, found in the current folder.
  EXPECT_EQ(Calls("CopyFileA"),
            std::vector<std::string>{"qnetprep.exe -> C:\\Windows\\System32\\qnetprep.exe"});
}

TEST_F(SelfCopyTest, AnOlderCopyIsReplacedWhateverItsAttributes) {
  WriteFile(kSelfCopy, "older image");
  SetAttributes(kSelfCopy, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  WriteProgram();
  EXPECT_EQ(CopySelf(), "");
  EXPECT_EQ(ReadFile(kSelfCopy), "program image");
}

TEST_F(SelfCopyTest, ErrorLinesCarryTheCodeInLowerCaseHexadecimal) {
  struct Case {
    const char* name;
    bool programInCurrentFolder;
    bool olderCopy;
    const char* failedCall;  // nullptr: none
    DWORD error;
    std::string output;
  };
  const Case cases[] = {
      {"no program to copy", false, false, nullptr, 0, "SetFileAttributes error, error value = 2"},
      {"no program, older copy stays", false, true, nullptr, 0, ""},
      {"copy refused", true, true, "CopyFileA", 0x2f, "CopyFile error, error value = 2f"},
      {"copy finds nothing", true, true, "CopyFileA", ERROR_FILE_NOT_FOUND, ""},
      {"copy path missing", true, true, "CopyFileA", ERROR_PATH_NOT_FOUND, "CopyFile error, error value = 3"},
      {"attributes refused", true, true, "SetFileAttributesA", 0xabc,
       "SetFileAttributes error, error value = abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(LinuxPath("C:\\pkg\\qnetprep.exe"));
    std::filesystem::remove(LinuxPath(kSelfCopy));
    if (c.programInCurrentFolder) WriteProgram();
    if (c.olderCopy) WriteFile(kSelfCopy, "older image");
    sim::ResetCalls();
    if (c.failedCall != nullptr) sim::FailCall(c.failedCall, sim::Fault{c.error});

    EXPECT_EQ(CopySelf(), c.output);
    // A failure to clear the attributes never stops the copy.
    EXPECT_EQ(Calls("CopyFileA").size(), 1u);
  }
}

TEST_F(SelfCopyTest, WithoutASystemFolderNothingIsCopied) {
  WriteProgram();
  sim::FailCall("GetSystemDirectoryA", sim::Fault{ERROR_ACCESS_DENIED});
  EXPECT_EQ(CopySelf(), "");
  EXPECT_TRUE(Calls("SetFileAttributesA").empty());
  EXPECT_TRUE(Calls("CopyFileA").empty());
  EXPECT_FALSE(FileExists("C:\\qnetprep.exe"));
}

}  // namespace
