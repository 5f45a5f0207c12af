// Whole runs on the field machine, each held to the shared check of CheckedRun: every mode
// as it is, with its neighbours; with every platform call failing in turn, and every call
// of one name failing for the whole run; stopped at every call and run again; and input
// that no one meant.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <set>

#include "tests/support/machine.h"

extern char** environ;

namespace {

using namespace where;
namespace fs = std::filesystem;

class ModeTest : public MachineTest, public testing::WithParamInterface<Mode> {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    PrepareTemplate(GetParam());
  }
  // The built program on `machine`, with the tail's words as arguments and its call log in
  // calls_: only a process can be stopped in the middle of a run.
  int Spawn(const std::string& machine, uint32_t crashAt = 0) {
    setenv("QNETPREP_MACHINE", machine.c_str(), 1);
    setenv("QNETPREP_CALL_LOG", (machine + ".calls").c_str(), 1);
    setenv("QNETPREP_CRASH_AT", std::to_string(crashAt).c_str(), 1);
    setenv("ASAN_OPTIONS", "exitcode=99", 1);  // a finding must not pass for the program's own code
    std::vector<std::string> words = {QNETPREP_EXE_PATH};
    std::istringstream in(GetParam().tail);
    for (std::string word; in >> word;) words.push_back(word);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, (machine + "/drive_c/pkg").c_str());
    pid_t child = 0;
    int status = -1;
    if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0)
      waitpid(child, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    std::ifstream log(machine + ".calls");
    calls_.clear();
    for (std::string line; std::getline(log, line);) calls_.push_back(line);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  MachineState StateOf(const std::string& machine) {
    sim::OpenMachine(folder_ = machine, machine + "/drive_c/pkg");
    return Capture();
  }
  std::vector<std::string> calls_;
};

TEST_P(ModeTest, NeighboursOutliveTheRunWhileItDoesItsOwnWork) {
  OpenCopy();
  const bool uninstall = GetParam().tail == "/u"s, recorded = GetParam().tail == "/au"s;
  const char* lumora = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumora";
  ASSERT_TRUE(Has(lumora));
  CheckedRun(GetParam().tail);
  // Only the uninstall takes the other entry that it removes by name.
  EXPECT_EQ(Has(lumora), !uninstall);
  for (const char* own :
       {"VEN_1E7C&DEV_4C43&SUBSYS_00011E7C&REV_01", "VEN_1E7C&DEV_3A02&SUBSYS_00021E7C&REV_02",
        "VEN_ABCD&DEV_1234&SUBSYS_00000000&REV_00"})
    EXPECT_FALSE(HasDevice("PCI\\"s + own)) << own;
  EXPECT_FALSE(Has("SYSTEM\\CurrentControlSet\\Services\\RX90K"));
  EXPECT_EQ(Bits({Has(kProduct), Has(kEntry)}), recorded ? "11" : "00");
  EXPECT_EQ(Exists("C:\\Windows\\INF\\oem0.inf"), !uninstall);
  EXPECT_TRUE(Exists(kInstall + "net7341a.inf"s));
}

TEST_P(ModeTest, EveryFailingCallEndsCleanAndStaysWithinTheProduct) {
  OpenCopy();
  sim::ResetCalls();
  Run(GetParam().tail);
  const std::vector<sim::CallRecord> calls = sim::CallLog();
  std::set<std::string> names;
  for (uint32_t k = 1; k <= calls.size(); ++k) {
    const std::string& name = calls[k - 1].name;
    names.insert(name);
    // A text query may also report a buffer too small, which leaves it untouched.
    std::vector<sim::Fault> faults = {sim::Fault{}};
    if (name == "GetEnvironmentVariableA" || name == "GetCurrentDirectoryA" || name.find("Directory") == 3)
      faults.push_back({0, true, name == "GetSystemDirectoryA" ? 512 : MAX_PATH});
    for (const sim::Fault& fault : faults) {
      SCOPED_TRACE("call " + std::to_string(k) + " " + name + " " + calls[k - 1].detail +
                   (fault.useResult ? " too small" : ""));
      OpenCopy();
      sim::FailCallNumber(k, fault);
      CheckedRun(GetParam().tail, name, 1);
    }
  }
  for (const std::string& name : names) {
    SCOPED_TRACE("every " + name + " failing");
    OpenCopy();
    sim::FailCall(name, sim::Fault{});
    CheckedRun(GetParam().tail, name, -1);
  }
}

TEST_P(ModeTest, ARunStoppedAtAnyCallAndRunAgainEndsAsAnUninterruptedRun) {
  const std::string reference = CopyTemplate("uninterrupted");
  ASSERT_EQ(Spawn(reference), 1);
  const std::vector<std::string> calls = calls_;
  // Before anything else can load a DLL by name, the search is hardened.
  ASSERT_GT(calls.size(), 3u);
  EXPECT_EQ(calls[0] + calls[1] + calls[2].substr(0, 24),
            "GetModuleHandleA kernel32.dllGetProcAddress SetDefaultDllDirectoriesSetDefaultDllDirectories");
  const MachineState expected = StateOf(reference);
  for (uint32_t k = 1; k <= calls.size(); ++k) {
    SCOPED_TRACE("stopped at call " + std::to_string(k) + ": " + calls[k - 1]);
    const std::string machine = CopyTemplate("interrupted");
    ASSERT_EQ(Spawn(machine, k), sim::kCrashExitCode);
    ASSERT_EQ(calls_.size(), k);
    ASSERT_EQ(Spawn(machine), 1);
    EXPECT_EQ(Differences(expected, StateOf(machine)), "");
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, ModeTest, testing::ValuesIn(kModes), ModeName);

// A folder path of exactly `length` characters below C:\, in levels Linux can name.
std::string LongFolder(size_t length) {
  std::string path = "C:";
  while (path.size() < length)
    path += "\\" + std::string(std::min<size_t>(length - path.size() - 1, 200), 'd');
  return path;
}

using BadInputTest = MachineTest;

TEST_F(BadInputTest, OddTailsFilesInTheWayAndFoldersOfEveryLength) {
  PrepareTemplate(kModes[0]);
  const std::string driver = kInstall + "RX90K.SYS"s, i227 = std::string(223, 'i') + ".inf",
                    j228 = std::string(224, 'j') + ".inf";
  const DWORD all = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  const std::string usual = "C:\\Program Files\\Orvix\\qnetprep",
                    notFound = "SetFileAttributes error, error value = 2";
  const auto inf = [this](const std::string& name) {
    return [=] { Write("C:\\pkg\\" + name, InfText(name)); };
  };
  const auto programFiles = [this](const std::string& value, const std::string& installFolder) {
    return [=] {
      if (value.size() == 235 || value == "C:\\Apps") fs::create_directories(Linux(value));
      setenv("ProgramFiles", value.c_str(), 1);
      installFolder_ = installFolder;
    };
  };
  // Whether the INF store holds the copy labelled so, and the install folder a file so named.
  const auto storedAndStaged = [this](const std::string& name) {
    std::string found;
    for (const fs::directory_entry& entry : fs::directory_iterator(Linux("C:\\Windows\\INF")))
      found += Slurp(entry.path()).find("; " + name + "\n") != std::string::npos ? "stored " : "";
    return found + (Exists(kInstall + name) ? "staged" : "");
  };
  const auto from = [this](const std::string& folder) {
    return [=] {
      for (const char* name : {"net7341a.inf", "rx90kw2a.cat"})
        Write("C:\\"s + name, Read("C:\\pkg\\"s + name));
      sim::TheMachine().currentDirectory = folder;
    };
  };
  const struct {
    std::string tail;
    std::function<void()> arrange;
    std::string inf, probe,
        expected;  // what the store, the install folder and the probe hold, then the output
  } cases[] = {
      {std::string(100000, 'x') + " /au " + std::string(100000, 'y'), [] {}, "net7341a.inf", "",
       "stored staged" + notFound},
      // The install folder takes 32 characters, so 227 make the longest path that fits.
      {"/inf=" + i227, inf(i227), i227, "", "stored staged"},
      {"/inf=" + j228, inf(j228), j228, "", ""},
      // Bytes of other code pages pass through; options still count around control bytes.
      {"\x80\xff\x01 /inf=\xe4\xf6.inf \x1f", inf("\xe4\xf6.inf"), "\xe4\xf6.inf", "", "stored staged"},
      {"/inf=..\\..\\Zentrix\\x.inf",
       [this] { Write("C:\\Zentrix\\x.inf", InfText("..\\..\\Zentrix\\x.inf")); }, "..\\..\\Zentrix\\x.inf",
       "", ""},
      // A staged file is made writable and kept; an older self-copy is replaced; where no
      // copy can go, or no program is there to copy, the run says so.
      {"", [&] { Write(driver, "older driver", all); }, "RX90K.SYS", driver, "stagedolder driver0"},
      {"/au", [&] { Write(kSelfCopy, "older program", all); }, "net7341a.inf", kSelfCopy,
       "stored stagedprogram image\n0"},
      {"/au", [this] { fs::create_directories(Linux(kSelfCopy)); }, "net73417.inf", "",
       "stored stagedCopyFile error, error value = 5CopyFile error, error value = 5"},
      {"/au", [this] { fs::remove(Linux("C:\\pkg\\qnetprep.exe")); }, "net73417.inf", "",
       "stored staged" + notFound + notFound},
      {"", [] { unsetenv("ProgramFiles"); }, "net7341a.inf", "", "stored staged"},
      {"", programFiles("C:\\Apps", "C:\\Apps\\Orvix\\qnetprep"), "net7341a.inf", "", "stored "},
      {"", programFiles("Q:\\Missing drive", "Q:\\Missing drive\\Orvix\\qnetprep"), "net7341a.inf", "", ""},
      // The folders fit, no staged file does; a value that does not fit its buffer counts as absent.
      {"", programFiles(LongFolder(235), LongFolder(235) + "\\Orvix\\qnetprep"), "net7341a.inf", "", ""},
      {"", programFiles(LongFolder(260), usual), "net7341a.inf", "", "stored staged"},
      // At 259 characters the current folder is read, but no path in it fits; at 260 it is not read.
      {"", from(LongFolder(259)), "net7341a.inf", "", ""},
      {"", from(LongFolder(260)), "net7341a.inf", "", ""},
      {"", from("C:\\"), "net7341a.inf", "", "stored staged"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tail.substr(0, 60) + " " + c.inf.substr(0, 20));
    OpenCopy();
    setenv("ProgramFiles", "C:\\Program Files", 1);
    c.arrange();
    CheckedRun(c.tail);
    const std::string probe = c.probe.empty() ? "" : Read(c.probe) + std::to_string(Attributes(c.probe));
    EXPECT_EQ(storedAndStaged(c.inf) + probe + output_, c.expected);
  }
}

}  // namespace
