// The simulated KERNEL32 file, search and environment calls and the machine folder
// behind them: the error codes Windows gives, the buffer-size rules, the attributes
// the machine keeps for Linux files, and how Windows paths map into the folder
// (drives, the Linux root as Z:, relative forms, case and the MAX_PATH limit).
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "platform/sim/paths.h"
#include "tests/support/sim_machine.h"

namespace {

using namespace std::string_literals;
using FileCalls = SimMachineTest;

// Attributes as letters: D(irectory) A(rchive) R(ead-only) H(idden) S(ystem).
constexpr char kLetters[] = "DARHS";
constexpr DWORD kBits[] = {FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_READONLY,
                           FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM};

std::string Letters(DWORD bits) {
  std::string letters;
  for (size_t i = 0; i < 5; ++i) letters += (bits & kBits[i]) != 0 ? std::string(1, kLetters[i]) : "";
  return letters;
}

std::string Failure(DWORD error = GetLastError()) {
  return "error " + std::to_string(error);
}

// One call and what came of it: "ok", the attributes, or "error <code>".
struct Step {
  const char* call;
  const char* path;
  const char* argument;  // the destination of a copy, or the attribute letters to set
  const char* outcome;
};

std::string Do(const Step& step) {
  const std::string call = step.call;
  if (call == "attributes") {
    const DWORD bits = GetFileAttributesA(step.path);
    return bits == INVALID_FILE_ATTRIBUTES ? Failure() : Letters(bits);
  }
  DWORD bits = 0;
  for (size_t i = 0; i < 5; ++i) bits |= std::strchr(step.argument, kLetters[i]) != nullptr ? kBits[i] : 0;
  if (bits == 0) bits = FILE_ATTRIBUTE_NORMAL;
  BOOL ok = FALSE;
  if (call == "mkdir") ok = CreateDirectoryA(step.path, nullptr);
  if (call == "copy") ok = CopyFileA(step.path, step.argument, FALSE);
  if (call == "copy-new") ok = CopyFileA(step.path, step.argument, TRUE);  // fail if it exists
  if (call == "delete") ok = DeleteFileA(step.path);
  if (call == "attrib") ok = SetFileAttributesA(step.path, bits);
  return ok ? "ok" : Failure();
}

void Steps(std::initializer_list<Step> steps) {
  for (const Step& step : steps) EXPECT_EQ(Do(step), step.outcome) << step.call << " " << step.path;
}

// "<result> <buffer>" of a call told `capacity`, given one '#' more to show an overrun.
template <typename Call>
std::string Filled(DWORD capacity, Call call) {
  std::string buffer(capacity + 1, '#');
  const DWORD result = call(buffer.data(), capacity);
  return std::to_string(result) + " " + buffer;
}

TEST_F(FileCalls, FullPathsResolveLikeWindowsAndStopBelowMaxPath) {
  const std::string longest = "C:\\" + std::string(256, 'a');  // 259 characters
  const std::string relative(252, 'r');                        // C:\pkg\ + 252 = 259
  const std::pair<std::string, std::string> rows[] = {
      {"net7341a.inf", "C:\\pkg\\net7341a.inf"},
      {"..\\Windows\\.\\INF", "C:\\Windows\\INF"},
      // A drive without a separator is relative to that drive's current folder,
      // which for any drive but the current one is its root.
      {"C:sub", "C:\\pkg\\sub"},
      {"D:sub", "D:\\sub"},
      {"C:/pkg//sub\\\\.\\x\\..\\y", "C:\\pkg\\sub\\y"},
      {"C:\\pkg\\name. . ", "C:\\pkg\\name"},  // a final period and blanks go
      {longest, longest},
      {longest + "b", "error 206"},
      {relative, "C:\\pkg\\" + relative},
      {relative + "s", "error 206"},                 // the full path counts, not what was written
      {"C:" + std::string(258, '\\'), "error 206"},  // collapsing separators count as written
      {"", "error 3"},
      {"C:\\pkg\\a?b.inf", "error 123"},
      {"\\\\server\\share\\x", "error 53"},
  };
  for (const auto& [path, wanted] : rows) {
    std::string full;
    DWORD error = 0;
    EXPECT_EQ(sim::FullWindowsPath(path, &full, nullptr, &error) ? full : Failure(error), wanted) << path;
  }
}

TEST_F(FileCalls, DrivesLieInTheMachineFolderAndExistingNamesMatchWhateverTheCase) {
  WriteFile("C:\\Windows\\INF\\OEM0.inf", "x");
  std::filesystem::create_directories(folder_ + "/drive_c/pkg/Sub");
  std::filesystem::create_directories(folder_ + "/drive_c/pkg/SUB");
  const std::string c = folder_ + "/drive_c";
  const std::pair<const char*, std::string> rows[] = {
      {"qnetprep.exe", c + "/pkg/qnetprep.exe"},
      {"d:\\data\\x", folder_ + "/drive_d/data/x"},
      {"c:\\WINDOWS\\inf\\oem0.INF", c + "/Windows/INF/OEM0.inf"},
      {"C:\\windows\\NewDir\\File.TXT", c + "/Windows/NewDir/File.TXT"},  // missing names keep theirs
      // Names that differ only in case on Linux: the exact one wins, else a stable choice.
      {"C:\\pkg\\Sub", c + "/pkg/Sub"},
      {"C:\\pkg\\sub", c + "/pkg/SUB"},
  };
  for (const auto& [path, onLinux] : rows) EXPECT_EQ(LinuxPath(path), onLinux) << path;
  EXPECT_EQ(sim::MapLinuxPath(c + "/pkg/"), "C:\\pkg");
  EXPECT_EQ(sim::MapLinuxPath(folder_ + "/drive_d/x/../y"), "D:\\y");
  EXPECT_EQ(sim::MapLinuxPath(folder_ + "/drive_cc"), sim::MapLinuxPath(folder_) + "\\drive_cc");
}

TEST_F(FileCalls, FoldersAndAttributesFailWithTheCodesWindowsGives) {
  WriteFile("C:\\pkg\\a.inf", "a");
  Steps({
      {"mkdir", "C:\\Program Files\\Orvix", "", "ok"},
      {"mkdir", "C:\\PROGRAM FILES\\orvix", "", "error 183"},
      {"mkdir", "C:\\Program Files\\Missing\\qnetprep", "", "error 3"},
      {"mkdir", "D:\\", "", "error 3"},  // a drive the machine does not have
      {"attrib", "C:\\PKG\\A.INF", "RH", "ok"},
      {"attributes", "C:\\pkg\\a.inf", "", "ARH"},
      {"attrib", "C:\\pkg\\a.inf", "", "ok"},
      {"attributes", "C:\\pkg\\a.inf", "", "A"},
      {"attributes", "C:\\pkg\\none.inf", "", "error 2"},
      {"attributes", "C:\\nofolder\\none.inf", "", "error 3"},
      {"attrib", "C:\\pkg\\a.inf\\", "", "error 123"},  // a file named as a folder
      {"delete", "C:\\pkg\\none.inf", "", "error 2"},
  });
  EXPECT_FALSE(std::filesystem::exists(folder_ + "/drive_d"));
}

TEST_F(FileCalls, CopyAndDeleteLeaveWhatTheyMayNotReplace) {
  WriteFile("C:\\pkg\\new.inf", "new");
  WriteFile("C:\\dest\\new.inf", "old");
  WriteFile("C:\\pkg\\hidden.txt", "hidden");
  Steps({
      {"copy", "C:\\pkg\\none.inf", "C:\\dest\\x.inf", "error 2"},
      {"copy", "C:\\nofolder\\none.inf", "C:\\dest\\x.inf", "error 3"},
      {"copy", "C:\\pkg\\new.inf", "C:\\nofolder\\x.inf", "error 3"},
      {"copy", "C:\\pkg\\new.inf", "C:\\dest", "error 5"},  // onto a folder
      {"copy", "C:\\pkg\\new.inf", "C:\\PKG\\NEW.INF", "error 32"},
      {"attrib", "C:\\dest\\new.inf", "R", "ok"},
      {"copy", "C:\\pkg\\new.inf", "C:\\dest\\new.inf", "error 5"},
      {"copy-new", "C:\\pkg\\new.inf", "C:\\dest\\new.inf", "error 80"},  // checked before read-only
      {"delete", "C:\\dest\\new.inf", "", "error 5"},
      // A hidden or system file is replaced only by a source with the same bits.
      {"attrib", "C:\\pkg\\hidden.txt", "H", "ok"},
      {"copy", "C:\\pkg\\new.inf", "C:\\pkg\\hidden.txt", "error 5"},
  });
  EXPECT_EQ(ReadFile("C:\\dest\\new.inf"), "old");
  EXPECT_EQ(ReadFile("C:\\pkg\\hidden.txt"), "hidden");
  EXPECT_FALSE(FileExists("C:\\dest\\x.inf"));
  // The source's attributes travel with the copy.
  Steps({
      {"attrib", "C:\\dest\\new.inf", "", "ok"},
      {"copy", "C:\\pkg\\new.inf", "C:\\dest\\new.inf", "ok"},
      {"attrib", "C:\\pkg\\new.inf", "HR", "ok"},
      {"copy", "C:\\pkg\\new.inf", "C:\\pkg\\hidden.txt", "ok"},
      {"attributes", "C:\\pkg\\hidden.txt", "", "ARH"},
      {"delete", "c:\\PKG\\HIDDEN.TXT", "", "error 5"},
      {"attrib", "C:\\pkg\\hidden.txt", "H", "ok"},
      {"delete", "c:\\PKG\\HIDDEN.TXT", "", "ok"},
  });
  EXPECT_EQ(ReadFile("C:\\dest\\new.inf"), "new");
  WriteFile("C:\\pkg\\hidden.txt", "again");  // a new file starts without the old one's bits
  Steps({{"attributes", "C:\\pkg\\hidden.txt", "", "A"}});
}

TEST_F(FileCalls, SaveAndOpenKeepRegistryAndAttributesButNotCallsFaultsOrDamage) {
  SetString("SOFTWARE\\Orvix\\qnetprep", "Install", "Success");
  WriteFile("C:\\Program Files\\Orvix\\qnetprep\\RX90K.SYS", "sys");
  WriteFile("C:\\pkg\\gone.txt", "gone");
  Steps({{"attrib", "C:\\Program Files\\Orvix\\qnetprep\\RX90K.SYS", "RH", "ok"},
         {"attrib", "C:\\pkg\\gone.txt", "S", "ok"}});
  sim::SaveMachine();
  std::filesystem::remove(LinuxPath("C:\\pkg\\gone.txt"));  // behind the machine's back
  sim::FailCall("DeleteFileA", sim::Fault{});
  sim::OpenMachine(folder_, folder_ + "/drive_c/pkg");
  sim::SaveMachine();
  WriteFile("C:\\pkg\\gone.txt", "back");
  sim::OpenMachine(folder_, folder_ + "/drive_c/pkg");
  EXPECT_EQ(sim::CallCount(), 0u);
  EXPECT_EQ(GetString("SOFTWARE\\Orvix\\qnetprep", "Install"), "Success");
  Steps({{"attributes", "C:\\Program Files\\Orvix\\qnetprep\\RX90K.SYS", "", "ARH"},
         {"attributes", "C:\\pkg\\gone.txt", "", "A"},
         {"delete", "C:\\pkg\\gone.txt", "", "ok"}});
  // A file the machine cannot read stops the process before a save could replace it.
  for (const char* file : {"registry.reg", "file-attributes.txt"}) {
    std::ofstream(folder_ + "/" + file, std::ios::trunc) << "[damaged\n";
    EXPECT_EXIT((sim::OpenMachine(folder_, folder_), sim::SaveMachine()), ::testing::ExitedWithCode(2), file);
    std::ostringstream kept;
    kept << std::ifstream(folder_ + "/" + file).rdbuf();
    EXPECT_EQ(kept.str(), "[damaged\n");
    std::filesystem::remove(folder_ + "/" + file);
  }
}

TEST_F(FileCalls, FaultedCallsChangeNothingAndOnlyCountedCallsCount) {
  WriteFile("C:\\pkg\\a.inf", "a");
  SetLastError(0);
  GetModuleHandleA(nullptr);
  for (const char* call : {"CopyFileA", "DeleteFileA", "CreateDirectoryA"}) sim::FailCall(call, sim::Fault{});
  sim::FailCall("SetFileAttributesA", sim::Fault{32});
  Steps({
      {"copy", "C:\\pkg\\a.inf", "C:\\pkg\\b.inf", "error 5"},
      {"attrib", "C:\\pkg\\a.inf", "R", "error 32"},
      {"delete", "C:\\pkg\\a.inf", "", "error 5"},
      {"mkdir", "C:\\pkg\\sub", "", "error 5"},
  });
  EXPECT_FALSE(FileExists("C:\\pkg\\b.inf"));
  EXPECT_TRUE(FileExists("C:\\pkg\\a.inf"));
  EXPECT_FALSE(FolderExists("C:\\pkg\\sub"));
  EXPECT_EQ(sim::CallCount(), 4u);
}

// The text and its length when it fits with its NUL; else the size needed and the
// buffer untouched.
TEST_F(FileCalls, TextQueriesFollowOneSizeRule) {
  ASSERT_EQ(setenv("QnetprepTestFolder", "D:\\Orvix", 1), 0);
  const auto env = [](char* b, DWORD n) { return GetEnvironmentVariableA("QNETPREPTESTFOLDER", b, n); };
  EXPECT_EQ(Filled(9, env), "8 D:\\Orvix\0#"s);
  EXPECT_EQ(Filled(8, env), "9 #########");
  EXPECT_EQ(Filled(7, [](char* b, DWORD n) { return GetCurrentDirectoryA(n, b); }), "6 C:\\pkg\0#"s);
  ASSERT_EQ(unsetenv("QnetprepTestFolder"), 0);
  EXPECT_EQ(Filled(16, env), "0 " + std::string(17, '#'));
  EXPECT_EQ(GetLastError(), ERROR_ENVVAR_NOT_FOUND);
}

// Every entry a search hands out as "name attributes size", joined by '|'.
std::string Find(const char* pattern) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return Failure();
  std::string entries;
  do {
    entries += (entries.empty() ? "" : "|") + std::string(found.cFileName) + " " +
               Letters(found.dwFileAttributes) + " " + std::to_string(found.nFileSizeLow);
  } while (FindNextFileA(search, &found));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_TRUE(FindClose(search));
  EXPECT_FALSE(FindClose(search));
  return entries;
}

TEST_F(FileCalls, SearchesListDotsFirstThenNamesSortedWithoutRegardToCase) {
  WriteFile("C:\\dir\\!b.txt", "abc");
  WriteFile("C:\\dir\\A.inf", "[Version]\n");
  WriteFile("C:\\dir\\sub\\deeper.txt", "not listed");
  ASSERT_TRUE(SetFileAttributesA("C:\\dir\\!b.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  const std::pair<const char*, const char*> rows[] = {
      {"C:\\dir\\*", ". D 0|.. D 0|!b.txt ARH 3|A.inf A 10|sub D 0"},
      {"C:\\DIR\\!B.TXT", "!b.txt ARH 3"},                         // spelled as it is stored
      {"C:\\*", "dir D 0|pkg D 0|Program Files D 0|Windows D 0"},  // a drive's root has no dots
      {"C:\\dir\\none.txt", "error 2"},
      {"C:\\missing\\*", "error 3"},
  };
  for (const auto& [pattern, found] : rows) EXPECT_EQ(Find(pattern), found) << pattern;
  sim::FailCall("FindFirstFileA", sim::Fault{});
  EXPECT_EQ(Find("C:\\dir\\*"), "error 5");
}

}  // namespace
