// Whole runs of the built program, as a process, on situations that the end-to-end
// scenarios (tests/wine/scenarios.sh) do not set up: an absent "ProgramFiles", an
// earlier staging, records that block further installs, an INF in a subfolder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/sim_machine.h"

namespace {

class InstallScenarioTest : public SimMachineTest {
 protected:
  void SetUp() override {
    SimMachineTest::SetUp();
    WritePackage();
  }

  // Saves the machine, runs the program on it with `arguments` in C:\pkg and opens the
  // machine again as the run left it. Returns the exit code; the output goes to output_.
  int RunProgram(const std::vector<std::string>& arguments, const char* programFiles = "C:\\Program Files") {
    sim::SaveMachine();
    const std::string package = LinuxPath("C:\\pkg");
    const std::string outputFile = folder_ + ".stdout";
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
      SetProgramFiles(programFiles);
      setenv("QNETPREP_MACHINE", folder_.c_str(), 1);
      for (const char* name :
           {"QNETPREP_FAIL_CALL", "QNETPREP_FAIL_NAME", "QNETPREP_CRASH_AT", "QNETPREP_CALL_LOG"})
        unsetenv(name);
      const int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (chdir(package.c_str()) != 0 || out < 0 || dup2(out, STDOUT_FILENO) < 0) _exit(120);
      std::vector<std::string> words = {QNETPREP_EXE_PATH};
      words.insert(words.end(), arguments.begin(), arguments.end());
      std::vector<char*> argv;
      for (std::string& word : words) argv.push_back(word.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(121);
    }
    int status = 0;
    const bool ended = child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status);
    std::ostringstream output;
    output << std::ifstream(outputFile).rdbuf();
    output_ = output.str();
    std::remove(outputFile.c_str());
    sim::OpenMachine(folder_, package);
    return ended ? WEXITSTATUS(status) : -1;
  }

  static std::string Stored(int number) { return "C:\\Windows\\INF\\oem" + std::to_string(number); }

  std::string output_;
};

// Without "ProgramFiles" the package is staged in C:\Program Files. A later, newer
// package finds the staged files in place: they are made writable but never replaced,
// so the INFs are pre-installed from the older staging; only missing files are added.
TEST_F(InstallScenarioTest, AnEarlierStagingIsKeptAndOnlyCompleted) {
  ASSERT_EQ(RunProgram({}, nullptr), 1);
  const std::string staged = where::kInstallFolder;
  EXPECT_EQ(ReadFile(staged + "RX90K.SYS"), PackageFileText("RX90K.SYS", "v1"));
  SetAttributes(staged + "RX90K.SYS", FILE_ATTRIBUTE_READONLY);
  SetAttributes(staged + "net7341a.inf", FILE_ATTRIBUTE_HIDDEN);
  std::filesystem::remove(LinuxPath(staged + "OrvixNic.dll"));
  WritePackage("v2");

  ASSERT_EQ(RunProgram({}), 1);

  EXPECT_EQ(ReadFile(staged + "RX90K.SYS"), PackageFileText("RX90K.SYS", "v1"));
  EXPECT_EQ(Attributes(staged + "RX90K.SYS"), 0u);
  EXPECT_EQ(Attributes(staged + "net7341a.inf"), 0u);
  EXPECT_EQ(ReadFile(staged + "OrvixNic.dll"), PackageFileText("OrvixNic.dll", "v2"));
  EXPECT_EQ(ReadFile(Stored(0) + ".inf"), PackageFileText("net7341a.inf", "v1"));
  EXPECT_EQ(ReadFile(Stored(1) + ".inf"), PackageFileText("net73417.inf", "v1"));
  EXPECT_FALSE(FileExists(Stored(2) + ".inf")) << "no newer INF was pre-installed";
}

// A subkey below Parameters keeps the clean-up from removing it: both slots stay taken
// while their files go, and the next recorded install gives up before pre-installing.
TEST_F(InstallScenarioTest, RecordsThatCannotBeClearedBlockFurtherRecordedInstalls) {
  ASSERT_EQ(RunProgram({"/au"}), 1);
  CreateKey(std::string(where::kParametersKey) + "\\Extra");
  WriteFile(Stored(2) + ".inf", "another product's INF");

  ASSERT_EQ(RunProgram({"/au"}), 1);

  EXPECT_EQ(output_, "");
  ExpectRecord(where::kProductKey, "Install", "Success");
  ExpectRecord(where::kProductKey, "Version", "0.0.3.6");
  ExpectRecord(where::kParametersKey, "RenamedInf", Stored(0) + ".inf");
  ExpectRecord(where::kParametersKey, "RenamedInf1", Stored(1) + ".inf");
  EXPECT_TRUE(KeyExists(std::string(where::kParametersKey) + "\\Extra"));
  for (int number : {0, 1}) {
    EXPECT_FALSE(FileExists(Stored(number) + ".inf"));
    EXPECT_FALSE(FileExists(Stored(number) + ".pnf"));
  }
  EXPECT_EQ(ReadFile(Stored(2) + ".inf"), "another product's INF");
  EXPECT_FALSE(FileExists(Stored(3) + ".inf"));
  EXPECT_FALSE(KeyExists(where::kEntryKey));
}

// The folder part of an INF argument names a subfolder of both the package and the
// install folder; the INF is staged and pre-installed only when both exist.
TEST_F(InstallScenarioTest, AnInfInASubfolderNeedsTheSubfolderOnBothSides) {
  WriteFile("C:\\pkg\\sub\\nested.inf", InfFileText("nested INF"));
  ASSERT_EQ(RunProgram({"/inf=sub\\nested.inf"}), 1);
  EXPECT_FALSE(FileExists(std::string(where::kInstallFolder) + "sub\\nested.inf"));
  EXPECT_FALSE(FileExists(Stored(0) + ".inf"));

  std::filesystem::create_directories(LinuxPath(std::string(where::kInstallFolder) + "sub"));
  ASSERT_EQ(RunProgram({"/inf=sub\\nested.inf"}), 1);
  EXPECT_EQ(ReadFile(std::string(where::kInstallFolder) + "sub\\nested.inf"), InfFileText("nested INF"));
  EXPECT_EQ(ReadFile(Stored(0) + ".inf"), InfFileText("nested INF"));
  EXPECT_FALSE(KeyExists(where::kProductKey));
}

}  // namespace
