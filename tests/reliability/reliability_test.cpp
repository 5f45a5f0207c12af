// Whole runs on the field machine, each held to CheckedRun: every mode, with each call failing
// in turn and each name failing throughout; stopped at each call and rerun; odd input.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <set>

#include "platform/sim/machine_setup.h"
#include "tests/support/machine.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

class ModeTest : public MachineTest, public testing::WithParamInterface<Mode> {
 protected:
  // Only a process can be stopped in the middle of a run.
  int Spawn(const std::string& machine, uint32_t crashAt = 0) {
    setenv("QNETPREP_MACHINE", machine.c_str(), 1);
    setenv("QNETPREP_CALL_LOG", (machine + ".calls").c_str(), 1);
    setenv("QNETPREP_CRASH_AT", std::to_string(crashAt).c_str(), 1);
    setenv("QNETPREP_COMMAND_LINE", ("qnetprep.exe "s + GetParam().tail).c_str(), 1);
    setenv("ASAN_OPTIONS", "exitcode=99", 1);  // a finding must not pass for the program's own code
    char* argv[] = {const_cast<char*>(QNETPREP_EXE_PATH), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, (machine + "/drive_c/pkg").c_str());
    pid_t child = 0;
    int status = -1;
    if (posix_spawn(&child, argv[0], &actions, nullptr, argv, environ) == 0) waitpid(child, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    std::istringstream log(Slurp(machine + ".calls"));
    calls_.clear();
    for (std::string line; std::getline(log, line);) calls_.push_back(line);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::vector<std::string> calls_;
};

TEST_P(ModeTest, EveryModeDoesItsOwnWorkAndEveryFailingCallEndsCleanWithinTheProduct) {
  PrepareTemplate(GetParam()), OpenCopy();
  const bool uninstall = GetParam().tail == "/u"s, recorded = GetParam().tail == "/au"s;
  const char* lumora = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumora";
  CheckedRun(GetParam().tail);
  const std::vector<sim::CallRecord> calls = sim::CallLog();
  // The machine's REGEDIT4 file gives back every byte that the run left.
  const MachineState left = Capture();
  sim::SaveMachine(), sim::OpenMachine(folder_, folder_ + "/drive_c/pkg");
  EXPECT_EQ(Differences(left, Capture()), "");
  // Only the uninstall takes Lumora, and the product key whole, with what the clean-up left.
  EXPECT_EQ(Bits({Has(lumora), Has(kProduct), Has(kParameters), Has(kEntry)}), uninstall  ? "0000"
                                                                               : recorded ? "1111"
                                                                                          : "1100");
  EXPECT_EQ(Bits({HasDevice("PCI\\VEN_1E7C&DEV_4C43&SUBSYS_00011E7C&REV_01"),
                  HasDevice("PCI\\VEN_1E7C&DEV_3A02&SUBSYS_00021E7C&REV_02"),
                  HasDevice("PCI\\VEN_ABCD&DEV_1234&SUBSYS_00000000&REV_00"),
                  HasDevice("PCI\\VEN_ABCE&DEV_1235&SUBSYS_00000000&REV_00"),
                  Has("SYSTEM\\CurrentControlSet\\Services\\RX90K"), Exists("C:\\Windows\\INF\\oem0.inf"),
                  Exists(kInstall + "net7341a.inf"s)}),
            uninstall ? "0000001" : "0000011");
  std::set<std::string> names;
  for (uint32_t k = 1; k <= calls.size(); ++k) {
    const std::string& name = calls[k - 1].name;
    names.insert(name);
    // A folder that fills its whole buffer is none: nothing goes to, or is deleted from, the root.
    std::vector<sim::Fault> faults = {sim::Fault{}};
    if (name == "GetSystemDirectoryA" || name == "GetWindowsDirectoryA") faults.push_back({0, true, 512});
    if (name == "GetModuleFileNameA") faults.push_back({0, true, MAX_PATH});
    for (const sim::Fault& fault : faults) {
      SCOPED_TRACE("call " + std::to_string(k) + " " + name + " " + calls[k - 1].detail +
                   (fault.useResult ? " full" : ""));
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
  PrepareTemplate(GetParam());
  const std::string reference = CopyTemplate("uninterrupted");
  ASSERT_EQ(Spawn(reference), 1);
  const std::vector<std::string> calls = calls_;
  // Before anything else can load a DLL by name, the search is hardened.
  ASSERT_GT(calls.size(), 3u);
  EXPECT_EQ(
      calls[0] + calls[1] + calls[2],
      "GetModuleHandleA kernel32.dllGetProcAddress SetDefaultDllDirectoriesSetDefaultDllDirectories 2048");
  sim::OpenMachine(folder_ = reference, reference + "/drive_c/pkg");
  const MachineState expected = Capture();
  for (uint32_t k = 1; k <= calls.size(); ++k) {
    SCOPED_TRACE("stopped at call " + std::to_string(k) + ": " + calls[k - 1]);
    folder_ = CopyTemplate("interrupted");
    ASSERT_EQ(Spawn(folder_, k), sim::kCrashExitCode);
    ASSERT_EQ(calls_.size(), k);
    ASSERT_EQ(Spawn(folder_), 1);
    sim::OpenMachine(folder_, folder_ + "/drive_c/pkg");
    EXPECT_EQ(Differences(expected, Capture()), "");
  }
}

// A 32-bit program on 64-bit Windows changes nothing; where Windows cannot tell, the run goes on.
TEST_P(ModeTest, UnderWow64NothingChangesUnlessTheQuestionGoesUnanswered) {
  PrepareTemplate(GetParam());
  const Failing unanswered[] = {{}, {"GetProcAddress", "IsWow64Process"}, {"IsWow64Process"}};
  for (const Failing& failing : unanswered) {
    SCOPED_TRACE(failing.call);
    OpenCopy();
    sim::TheSetup().underWow64 = true;
    const MachineState before = Capture();
    Fail(failing);
    EXPECT_EQ(Run(GetParam().tail), 1);
    EXPECT_EQ(Differences(before, Capture()).empty(), *failing.call == '\0');
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, ModeTest, testing::ValuesIn(kModes),
                         [](const auto& mode) { return std::string(mode.param.name); });

using BadInputTest = MachineTest;

TEST_F(BadInputTest, OddTailsFilesInTheWayAndFoldersOfEveryLength) {
  PrepareTemplate(kModes[0]);
  const std::string driver = kInstall + "RX90K.SYS"s, j228 = std::string(224, 'j') + ".inf";
  const std::string notFound = "SetFileAttributes error, error value = 2";
  const DWORD all = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  const auto inf = [this](const std::string& name) {
    return [=] { Write("C:\\pkg\\" + name, InfText(name)); };
  };
  // Whether the INF store holds the copy labelled so, and the install folder a file so named.
  const auto storedAndStaged = [this](const std::string& name) {
    std::string found;
    for (const fs::directory_entry& entry : fs::directory_iterator(Linux("C:\\Windows\\INF")))
      found += Slurp(entry.path()).find("; " + name + "\n") != std::string::npos ? "stored " : "";
    return found + (Exists(kInstall + name) ? "staged" : "");
  };
  const struct {
    std::string tail;
    std::function<void()> arrange;
    std::string inf, probe, expected;  // what the store, the install folder and the probe hold; the output
  } cases[] = {
      {std::string(100000, 'x') + " /au " + std::string(100000, 'y'), [] {}, "net7341a.inf", "",
       "stored staged" + notFound},
      // The install folder takes 32 characters: no path of a name of 228 fits.
      {"/inf=" + j228, inf(j228), j228, "", ""},
      {"/au /inf=" + std::string(500, 'q'), [] {}, "", "", ""},
      // Bytes of other code pages pass through; options still count around control bytes.
      {"\x80\xff\x01 /inf=\xe4\xf6.inf \x1f", inf("\xe4\xf6.inf"), "\xe4\xf6.inf", "", "stored staged"},
      {"/inf=..\\..\\Zentrix\\x.inf", inf("..\\..\\Zentrix\\x.inf"), "..\\..\\Zentrix\\x.inf", "", ""},
      // An older staged file and self-copy are replaced, protected or not; failures are told.
      {"", [&] { Write(driver, "older driver", all); }, "RX90K.SYS", driver, "stagedpackage file RX90K.SYS0"},
      {"/au", [&] { Write(kSelfCopy, "older", all); }, "net7341a.inf", kSelfCopy,
       "stored stagedprogram image\n0"},
      {"/au", [this] { fs::create_directories(Linux(kSelfCopy)); }, "net73417.inf", "",
       "stored stagedCopyFile error, error value = 5CopyFile error, error value = 5"},
      // The self-copy is the running image, whatever its name and whatever the current folder holds.
      {"/au",
       [this] {
         Write("C:\\pkg\\qnetprep.exe", "another program");
         Write(sim::TheSetup().programImage = "C:\\tools\\setup.exe", "program image\n");
       },
       "net73417.inf", kSelfCopy, "stored stagedprogram image\n0" + notFound},
      // At 259 characters the current folder is read, but no path in it fits.
      {"",
       [] {
         sim::TheMachine().currentDirectory = "C:\\" + std::string(200, 'd') + "\\" + std::string(55, 'd');
       },
       "net7341a.inf", "", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tail.substr(0, 60) + " " + c.inf.substr(0, 20));
    OpenCopy();
    installFolder_ = "C:\\Program Files\\Orvix\\qnetprep";
    c.arrange();
    CheckedRun(c.tail);
    const std::string probe = c.probe.empty() ? "" : Read(c.probe) + std::to_string(Attributes(c.probe));
    EXPECT_EQ(storedAndStaged(c.inf) + probe + output_, c.expected);
    setenv("ProgramFiles", "C:\\Program Files", 1);
  }
}

// A machine whose registry cannot be read stops the program before it could save an empty
// machine over it.
TEST_F(BadInputTest, ADamagedMachineStopsTheRunAndStaysAsItWas) {
  sim::SaveMachine();
  const std::string registry = folder_ + "/registry.reg";
  std::ofstream(registry, std::ios::app) << "[HKEY_LOCAL_MACHINE\\SOFTWARE\n";
  const std::string damaged = Slurp(registry);
  EXPECT_EXIT(sim::OpenMachine(folder_, folder_), testing::ExitedWithCode(2), "registry.reg: line");
  EXPECT_EQ(Slurp(registry), damaged);
}

}  // namespace
