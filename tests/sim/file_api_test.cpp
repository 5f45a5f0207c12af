// The simulated KERNEL32 file and environment calls: the error codes Windows gives,
// the buffer-size rules, and the attributes the machine keeps for Linux files.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "tests/support/sim_machine.h"

namespace {

using FileCalls = SimMachineTest;

// The result of a BOOL call as "ok" or "error <code>", so a check names the code.
std::string Outcome(BOOL result) {
  return result ? "ok" : "error " + std::to_string(GetLastError());
}

TEST_F(FileCalls, CreateDirectoryMakesOneLevel) {
  EXPECT_EQ(Outcome(CreateDirectoryA("C:\\Program Files\\Orvix", nullptr)), "ok");
  EXPECT_TRUE(FolderExists("C:\\Program Files\\Orvix"));
  EXPECT_EQ(Outcome(CreateDirectoryA("C:\\PROGRAM FILES\\orvix", nullptr)), "error 183");
  EXPECT_EQ(Outcome(CreateDirectoryA("C:\\Program Files\\Missing\\qnetprep", nullptr)), "error 3");
  EXPECT_FALSE(FolderExists("C:\\Program Files\\Missing"));
  WriteFile("C:\\pkg\\file.txt", "x");
  EXPECT_EQ(Outcome(CreateDirectoryA("C:\\pkg\\file.txt", nullptr)), "error 183");
  EXPECT_EQ(Outcome(CreateDirectoryA("C:\\pkg\\file.txt\\sub", nullptr)), "error 3");
  // A drive the machine does not have cannot be made by creating a folder on it.
  EXPECT_EQ(Outcome(CreateDirectoryA("D:\\", nullptr)), "error 3");
  EXPECT_EQ(Outcome(CreateDirectoryA("D:\\x", nullptr)), "error 3");
  EXPECT_FALSE(std::filesystem::exists(folder_ + "/drive_d"));
}

TEST_F(FileCalls, AttributesReportKindAndTheKeptBits) {
  WriteFile("C:\\pkg\\a.inf", "a");
  EXPECT_EQ(GetFileAttributesA("C:\\pkg\\a.inf"), FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(GetFileAttributesA("C:\\pkg"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesA("C:\\pkg\\"), FILE_ATTRIBUTE_DIRECTORY);

  EXPECT_EQ(Outcome(SetFileAttributesA("C:\\PKG\\A.INF", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)),
            "ok");
  EXPECT_EQ(GetFileAttributesA("C:\\pkg\\a.inf"),
            FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(Outcome(SetFileAttributesA("C:\\pkg\\a.inf", FILE_ATTRIBUTE_NORMAL)), "ok");
  EXPECT_EQ(GetFileAttributesA("C:\\pkg\\a.inf"), FILE_ATTRIBUTE_ARCHIVE);

  // Folders take attributes too, also named with a trailing backslash.
  ASSERT_TRUE(CreateDirectoryA("C:\\pkg\\sub", nullptr));
  EXPECT_EQ(Outcome(SetFileAttributesA("C:\\pkg\\sub\\", FILE_ATTRIBUTE_SYSTEM)), "ok");
  EXPECT_EQ(GetFileAttributesA("C:\\pkg\\sub"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM);
}

TEST_F(FileCalls, MissingTargetsGiveFileOrPathNotFound) {
  EXPECT_EQ(GetFileAttributesA("C:\\pkg\\none.inf"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesA("C:\\nofolder\\none.inf"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Outcome(SetFileAttributesA("C:\\pkg\\none.inf", FILE_ATTRIBUTE_NORMAL)), "error 2");
  EXPECT_EQ(Outcome(SetFileAttributesA("C:\\nofolder\\none.inf", FILE_ATTRIBUTE_NORMAL)), "error 3");
  EXPECT_EQ(Outcome(DeleteFileA("C:\\pkg\\none.inf")), "error 2");
  EXPECT_EQ(Outcome(DeleteFileA("C:\\nofolder\\none.inf")), "error 3");
  // A file named as if it were a folder.
  WriteFile("C:\\pkg\\a.inf", "a");
  EXPECT_EQ(Outcome(SetFileAttributesA("C:\\pkg\\a.inf\\", FILE_ATTRIBUTE_NORMAL)), "error 123");
  EXPECT_EQ(Outcome(SetFileAttributesA("C:\\pkg\\a.inf\\x", FILE_ATTRIBUTE_NORMAL)), "error 3");
}

TEST_F(FileCalls, CopyFailuresLeaveTheDestinationAsItWas) {
  WriteFile("C:\\pkg\\new.inf", "new");
  WriteFile("C:\\dest\\new.inf", "old");
  EXPECT_EQ(Outcome(CopyFileA("C:\\pkg\\none.inf", "C:\\dest\\x.inf", FALSE)), "error 2");
  EXPECT_EQ(Outcome(CopyFileA("C:\\nofolder\\none.inf", "C:\\dest\\x.inf", FALSE)), "error 3");
  EXPECT_EQ(Outcome(CopyFileA("C:\\pkg\\new.inf", "C:\\nofolder\\x.inf", FALSE)), "error 3");
  EXPECT_EQ(Outcome(CopyFileA("C:\\pkg\\new.inf", "C:\\dest\\new.inf", TRUE)), "error 80");
  EXPECT_EQ(ReadFile("C:\\dest\\new.inf"), "old");
  // A folder on either side cannot be copied, which is what an empty file name gives.
  EXPECT_EQ(Outcome(CopyFileA("C:\\pkg\\", "C:\\dest\\", TRUE)), "error 5");
  EXPECT_EQ(Outcome(CopyFileA("C:\\pkg\\new.inf", "C:\\dest", FALSE)), "error 5");
  EXPECT_FALSE(FileExists("C:\\dest\\x.inf"));

  ASSERT_TRUE(SetFileAttributesA("C:\\dest\\new.inf", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(Outcome(CopyFileA("C:\\pkg\\new.inf", "C:\\dest\\new.inf", FALSE)), "error 5");
  EXPECT_EQ(ReadFile("C:\\dest\\new.inf"), "old");
  // Fail-if-exists is checked before the read-only bit.
  EXPECT_EQ(Outcome(CopyFileA("C:\\pkg\\new.inf", "C:\\dest\\new.inf", TRUE)), "error 80");

  ASSERT_TRUE(SetFileAttributesA("C:\\dest\\new.inf", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(Outcome(CopyFileA("C:\\pkg\\new.inf", "C:\\dest\\new.inf", FALSE)), "ok");
  EXPECT_EQ(ReadFile("C:\\dest\\new.inf"), "new");
  EXPECT_EQ(Outcome(CopyFileA("C:\\pkg\\new.inf", "C:\\PKG\\NEW.INF", FALSE)), "error 32");
}

TEST_F(FileCalls, CopyCarriesTheSourceAttributesAndGuardsHiddenFiles) {
  WriteFile("C:\\pkg\\plain.txt", "plain");
  WriteFile("C:\\pkg\\marked.txt", "marked");
  ASSERT_TRUE(SetFileAttributesA("C:\\pkg\\marked.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));
  EXPECT_EQ(Outcome(CopyFileA("C:\\pkg\\marked.txt", "C:\\pkg\\copy.txt", TRUE)), "ok");
  EXPECT_EQ(GetFileAttributesA("C:\\pkg\\copy.txt"),
            FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
  EXPECT_EQ(ReadFile("C:\\pkg\\copy.txt"), "marked");

  // A hidden or system file is replaced only by a source that has the same bits.
  WriteFile("C:\\pkg\\hidden.txt", "hidden");
  ASSERT_TRUE(SetFileAttributesA("C:\\pkg\\hidden.txt", FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(Outcome(CopyFileA("C:\\pkg\\plain.txt", "C:\\pkg\\hidden.txt", FALSE)), "error 5");
  EXPECT_EQ(ReadFile("C:\\pkg\\hidden.txt"), "hidden");
  ASSERT_TRUE(SetFileAttributesA("C:\\pkg\\plain.txt", FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(Outcome(CopyFileA("C:\\pkg\\plain.txt", "C:\\pkg\\hidden.txt", FALSE)), "ok");
  EXPECT_EQ(ReadFile("C:\\pkg\\hidden.txt"), "plain");

  // A plain source over a cleared destination leaves it plain.
  ASSERT_TRUE(SetFileAttributesA("C:\\pkg\\plain.txt", FILE_ATTRIBUTE_NORMAL));
  ASSERT_TRUE(SetFileAttributesA("C:\\pkg\\copy.txt", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(Outcome(CopyFileA("C:\\pkg\\plain.txt", "C:\\pkg\\copy.txt", FALSE)), "ok");
  EXPECT_EQ(GetFileAttributesA("C:\\pkg\\copy.txt"), FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(FileCalls, CopyIntoAFolderOfOtherCaseUsesTheExistingFolder) {
  WriteFile("C:\\pkg\\a.inf", "a");
  ASSERT_TRUE(CreateDirectoryA("C:\\Program Files\\Orvix", nullptr));
  EXPECT_EQ(Outcome(CopyFileA("a.inf", "c:\\PROGRAM FILES\\ORVIX\\A.Inf", TRUE)), "ok");
  EXPECT_TRUE(std::filesystem::is_regular_file(folder_ + "/drive_c/Program Files/Orvix/A.Inf"));
}

TEST_F(FileCalls, DeleteRefusesReadOnlyFilesAndFoldersAndForgetsAttributes) {
  WriteFile("C:\\Windows\\INF\\oem3.inf", "x");
  ASSERT_TRUE(SetFileAttributesA("C:\\Windows\\INF\\oem3.inf", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(Outcome(DeleteFileA("C:\\Windows\\INF\\oem3.inf")), "error 5");
  EXPECT_TRUE(FileExists("C:\\Windows\\INF\\oem3.inf"));
  EXPECT_EQ(Outcome(DeleteFileA("C:\\Windows\\INF")), "error 5");

  ASSERT_TRUE(SetFileAttributesA("C:\\Windows\\INF\\oem3.inf", FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(Outcome(DeleteFileA("c:\\windows\\inf\\OEM3.INF")), "ok");
  EXPECT_FALSE(FileExists("C:\\Windows\\INF\\oem3.inf"));
  // A new file of the same name starts without the old one's bits.
  WriteFile("C:\\Windows\\INF\\oem3.inf", "y");
  EXPECT_EQ(GetFileAttributesA("C:\\Windows\\INF\\oem3.inf"), FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(FileCalls, AttributesSurviveSaveAndOpen) {
  WriteFile("C:\\Program Files\\Orvix\\qnetprep\\RX90K.SYS", "sys");
  WriteFile("C:\\pkg\\gone.txt", "gone");
  ASSERT_TRUE(SetFileAttributesA("C:\\Program Files\\Orvix\\qnetprep\\RX90K.SYS",
                                 FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(SetFileAttributesA("C:\\pkg\\gone.txt", FILE_ATTRIBUTE_SYSTEM));
  sim::SaveMachine();
  // Removed behind the machine's back between runs: its bits must not return.
  std::filesystem::remove(LinuxPath("C:\\pkg\\gone.txt"));
  sim::OpenMachine(folder_, folder_ + "/drive_c/pkg");
  EXPECT_EQ(GetFileAttributesA("C:\\Program Files\\Orvix\\qnetprep\\RX90K.SYS"),
            FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  sim::SaveMachine();
  WriteFile("C:\\pkg\\gone.txt", "back");
  sim::OpenMachine(folder_, folder_ + "/drive_c/pkg");
  EXPECT_EQ(GetFileAttributesA("C:\\pkg\\gone.txt"), FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(Outcome(DeleteFileA("C:\\Program Files\\Orvix\\qnetprep\\RX90K.SYS")), "error 5");
}

TEST_F(FileCalls, FaultedCallsChangeNothing) {
  WriteFile("C:\\pkg\\a.inf", "a");
  sim::FailCall("CopyFileA", sim::Fault{});
  EXPECT_EQ(Outcome(CopyFileA("C:\\pkg\\a.inf", "C:\\pkg\\b.inf", FALSE)), "error 5");
  EXPECT_FALSE(FileExists("C:\\pkg\\b.inf"));
  sim::FailCall("SetFileAttributesA", sim::Fault{32});
  EXPECT_EQ(Outcome(SetFileAttributesA("C:\\pkg\\a.inf", FILE_ATTRIBUTE_READONLY)), "error 32");
  EXPECT_EQ(GetFileAttributesA("C:\\pkg\\a.inf"), FILE_ATTRIBUTE_ARCHIVE);
  sim::FailCall("DeleteFileA", sim::Fault{});
  EXPECT_EQ(Outcome(DeleteFileA("C:\\pkg\\a.inf")), "error 5");
  EXPECT_TRUE(FileExists("C:\\pkg\\a.inf"));
  sim::FailCall("CreateDirectoryA", sim::Fault{});
  EXPECT_EQ(Outcome(CreateDirectoryA("C:\\pkg\\sub", nullptr)), "error 5");
  EXPECT_FALSE(FolderExists("C:\\pkg\\sub"));

  char buffer[MAX_PATH] = "untouched";
  sim::FailCall("GetCurrentDirectoryA", sim::Fault{});
  EXPECT_EQ(GetCurrentDirectoryA(MAX_PATH, buffer), 0u);
  EXPECT_STREQ(buffer, "untouched");
  sim::FailCall("GetSystemDirectoryA", sim::Fault{0, true, 600});
  EXPECT_EQ(GetSystemDirectoryA(buffer, MAX_PATH), 600u);
}

TEST_F(FileCalls, EveryFileCallIsCountedWithTheWindowsPath) {
  WriteFile("C:\\pkg\\a.inf", "a");
  SetLastError(0);
  GetModuleHandleA(nullptr);
  EXPECT_EQ(sim::CallCount(), 0u);
  CopyFileA("a.inf", "C:\\Program Files\\a.inf", TRUE);
  DeleteFileA("C:\\Program Files\\a.inf");
  ASSERT_EQ(sim::CallLog().size(), 2u);
  EXPECT_EQ(sim::CallLog()[0].name, "CopyFileA");
  EXPECT_EQ(sim::CallLog()[0].detail, "a.inf -> C:\\Program Files\\a.inf");
  EXPECT_EQ(sim::CallLog()[1].name, "DeleteFileA");
  EXPECT_EQ(sim::CallLog()[1].detail, "C:\\Program Files\\a.inf");
}

TEST_F(FileCalls, EnvironmentVariableSizeRules) {
  ASSERT_EQ(setenv("QnetprepTestFolder", "D:\\Orvix", 1), 0);
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  // 8 characters: 9 bytes fit, 8 do not.
  EXPECT_EQ(GetEnvironmentVariableA("QNETPREPTESTFOLDER", buffer, 9), 8u);
  EXPECT_STREQ(buffer, "D:\\Orvix");
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(GetEnvironmentVariableA("qnetpreptestfolder", buffer, 8), 9u);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(GetEnvironmentVariableA("QnetprepTestFolder", nullptr, 0), 9u);

  ASSERT_EQ(unsetenv("QnetprepTestFolder"), 0);
  SetLastError(0);
  EXPECT_EQ(GetEnvironmentVariableA("QnetprepTestFolder", buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetLastError(), ERROR_ENVVAR_NOT_FOUND);
}

TEST_F(FileCalls, FolderQueriesFollowTheSameSizeRules) {
  char buffer[32];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(GetCurrentDirectoryA(7, buffer), 6u);  // "C:\pkg"
  EXPECT_STREQ(buffer, "C:\\pkg");
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(GetCurrentDirectoryA(6, buffer), 7u);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(GetCurrentDirectoryA(0, nullptr), 7u);

  EXPECT_EQ(GetSystemDirectoryA(buffer, 20), 19u);
  EXPECT_STREQ(buffer, "C:\\Windows\\System32");
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(GetSystemDirectoryA(buffer, 19), 20u);
  EXPECT_EQ(buffer[0], '#');
  // The system folder is there to copy into.
  EXPECT_EQ(GetFileAttributesA("C:\\Windows\\System32"), FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace
