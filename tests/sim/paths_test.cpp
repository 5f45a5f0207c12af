// Windows paths on the simulated machine: drives, the Linux root as Z:, relative
// forms, separators, case and the MAX_PATH limit of the ANSI calls.
#include "platform/sim/paths.h"

#include <filesystem>
#include <string>

#include "tests/support/sim_machine.h"

namespace {

class PathMapping : public SimMachineTest {
 protected:
  // The full Windows form, or "error <code>".
  std::string Full(const std::string& path) {
    std::string full;
    DWORD error = 0;
    if (!sim::FullWindowsPath(path, &full, nullptr, &error)) return "error " + std::to_string(error);
    return full;
  }
  std::string Linux(const std::string& path) {
    sim::MappedPath mapped;
    DWORD error = 0;
    if (!sim::MapWindowsPath(path, &mapped, &error)) return "error " + std::to_string(error);
    return mapped.linuxPath;
  }
  void MakeFolder(const std::string& relative) {
    std::filesystem::create_directories(folder_ + "/" + relative);
  }
};

TEST_F(PathMapping, DrivesLieInTheMachineFolderAndZIsTheLinuxRoot) {
  EXPECT_EQ(Linux("C:\\pkg\\net7341a.inf"), folder_ + "/drive_c/pkg/net7341a.inf");
  EXPECT_EQ(Linux("d:\\data\\x"), folder_ + "/drive_d/data/x");
  EXPECT_EQ(Linux("C:\\"), folder_ + "/drive_c");
  EXPECT_EQ(Linux("Z:\\"), "/");
  EXPECT_EQ(Linux("z:\\tmp"), "/tmp");
}

TEST_F(PathMapping, RelativeFormsResolveAgainstTheCurrentFolder) {
  EXPECT_EQ(Full("net7341a.inf"), "C:\\pkg\\net7341a.inf");
  EXPECT_EQ(Full(".\\sub\\a.inf"), "C:\\pkg\\sub\\a.inf");
  EXPECT_EQ(Full("..\\Windows\\INF"), "C:\\Windows\\INF");
  EXPECT_EQ(Full("\\Windows"), "C:\\Windows");
  // A drive with no separator after it is relative to that drive's current folder,
  // which for any drive but the current one is its root.
  EXPECT_EQ(Full("C:sub"), "C:\\pkg\\sub");
  EXPECT_EQ(Full("D:sub"), "D:\\sub");
  EXPECT_EQ(Linux("qnetprep.exe"), folder_ + "/drive_c/pkg/qnetprep.exe");
}

TEST_F(PathMapping, SeparatorsCollapseAndDotsResolve) {
  EXPECT_EQ(Full("C:/pkg//sub\\\\.\\x\\..\\y"), "C:\\pkg\\sub\\y");
  EXPECT_EQ(Full("C:\\..\\..\\Windows\\.\\"), "C:\\Windows");
  EXPECT_EQ(Full("C:\\Program Files\\\\Orvix\\qnetprep\\\\net7341a.inf"),
            "C:\\Program Files\\Orvix\\qnetprep\\net7341a.inf");
  // Windows drops a final period and trailing blanks of the last name.
  EXPECT_EQ(Full("C:\\pkg\\name."), "C:\\pkg\\name");
  EXPECT_EQ(Full("C:\\pkg\\name. . "), "C:\\pkg\\name");

  std::string full;
  bool trailing = false;
  DWORD error = 0;
  ASSERT_TRUE(sim::FullWindowsPath("C:\\Program Files\\Orvix\\qnetprep\\", &full, &trailing, &error));
  EXPECT_EQ(full, "C:\\Program Files\\Orvix\\qnetprep");
  EXPECT_TRUE(trailing);
  ASSERT_TRUE(sim::FullWindowsPath("C:\\Program Files", &full, &trailing, &error));
  EXPECT_FALSE(trailing);
}

TEST_F(PathMapping, ExistingNamesMatchWhateverTheCaseMissingOnesKeepTheirs) {
  MakeFolder("drive_c/Windows/INF");
  WriteFile("C:\\Windows\\INF\\OEM0.inf", "x");
  EXPECT_EQ(Linux("c:\\WINDOWS\\inf\\oem0.INF"), folder_ + "/drive_c/Windows/INF/OEM0.inf");
  EXPECT_EQ(Linux("C:\\windows\\NewDir\\File.TXT"), folder_ + "/drive_c/Windows/NewDir/File.TXT");
  // Names that differ only in case on Linux: the exact one wins, else a stable choice.
  MakeFolder("drive_c/pkg/Sub");
  MakeFolder("drive_c/pkg/SUB");
  EXPECT_EQ(Linux("C:\\pkg\\Sub"), folder_ + "/drive_c/pkg/Sub");
  EXPECT_EQ(Linux("C:\\pkg\\sub"), folder_ + "/drive_c/pkg/SUB");
}

TEST_F(PathMapping, PathsOfMaxPathCharactersOrMoreAreRefused) {
  const std::string longest = "C:\\" + std::string(256, 'a');  // 259 characters
  EXPECT_EQ(Full(longest), longest);
  EXPECT_EQ(Full(longest + "b"), "error 206");
  EXPECT_EQ(Linux(longest + "b"), "error 206");
  // The limit holds for the full path too, not only for what the caller wrote.
  const std::string relative(252, 'r');  // C:\pkg\ + 252 = 259
  EXPECT_EQ(Full(relative), "C:\\pkg\\" + relative);
  EXPECT_EQ(Full(relative + "s"), "error 206");
  // Separators that collapse still count against the limit as written.
  EXPECT_EQ(Full("C:" + std::string(258, '\\')), "error 206");
}

TEST_F(PathMapping, RefusesNamesWindowsCannotHold) {
  EXPECT_EQ(Full(""), "error 3");
  EXPECT_EQ(Full("C:\\pkg\\a?b.inf"), "error 123");
  EXPECT_EQ(Full("C:\\pkg\\a:b"), "error 123");
  EXPECT_EQ(Full("C:\\pkg\\a\tb"), "error 123");
  EXPECT_EQ(Full("\\\\server\\share\\x"), "error 53");
}

TEST_F(PathMapping, LinuxPathsMapBackToDrivesOrZ) {
  EXPECT_EQ(sim::MapLinuxPath(folder_ + "/drive_c/pkg"), "C:\\pkg");
  EXPECT_EQ(sim::MapLinuxPath(folder_ + "/drive_c/pkg/"), "C:\\pkg");
  EXPECT_EQ(sim::MapLinuxPath(folder_ + "/drive_c"), "C:\\");
  EXPECT_EQ(sim::MapLinuxPath(folder_ + "/drive_d/x/../y"), "D:\\y");
  EXPECT_EQ(sim::MapLinuxPath("/tmp/some where/"), "Z:\\tmp\\some where");
  EXPECT_EQ(sim::MapLinuxPath("/"), "Z:\\");
  // Next to the drives, not in one: only Z: reaches it.
  EXPECT_EQ(sim::MapLinuxPath(folder_ + "/drive_cc"), sim::MapLinuxPath(folder_) + "\\drive_cc");
  EXPECT_EQ(sim::MapLinuxPath(folder_).substr(0, 3), "Z:\\");
}

TEST_F(PathMapping, CurrentFolderOutsideTheDrivesIsOnZ) {
  const std::string outside = folder_ + "/elsewhere";
  std::filesystem::create_directories(outside);
  sim::OpenMachine(folder_, outside);
  char buffer[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, buffer), 0u);
  std::string expected = "Z:" + outside;
  for (char& c : expected) c = c == '/' ? '\\' : c;
  EXPECT_STREQ(buffer, expected.c_str());
  EXPECT_EQ(Linux("file.txt"), outside + "/file.txt");
}

}  // namespace
