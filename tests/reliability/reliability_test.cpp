// Whole runs on the field machine, each held to CheckedRun: every mode, with each call failing
// in turn and each name failing throughout; stopped at each call and rerun; odd input.
#include <sys/wait.h>

#include <cstdlib>
#include <regex>
#include <set>

#include "platform/sim/machine_setup.h"
#include "tests/support/machine.h"

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
    const int status =
        std::system(("cd '" + machine + "/drive_c/pkg' && '" QNETPREP_EXE_PATH "' >/dev/null").c_str());
    std::istringstream log(Slurp(machine + ".calls"));
    calls_.clear();
    for (std::string line; std::getline(log, line);) calls_.push_back(line);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::vector<std::string> calls_;
};

// The changes of a failed install that are not its own: it may stage, create the vendor and product
// keys and say "Fail"; the catalog database's folders, which every Windows has, may appear. Stopped
// before its take-out ends, it may leave its new copy.
std::string ForeignToAFailedInstall(const std::string& changes, bool stopped = false) {
  const std::regex own(
      R"((added|modified): value SOFTWARE\\Orvix\\qnetprep : Install)"
      R"(|added: key SOFTWARE\\Orvix(\\qnetprep)?|\w+: \w+ C:\\Program Files\\Orvix.*)"
      R"(|added: folder C:\\Windows\\System32\\catroot.*)"s +
      (stopped ? R"(|added: file C:\\Windows\\(INF\\oem\d+\.[ip]nf|System32\\catroot\\.*))" : ""));
  std::string foreign;
  std::istringstream lines(changes);
  for (std::string change; std::getline(lines, change);)
    if (!std::regex_match(change, own)) foreign += change + "\n";
  return foreign;
}

// Under WOW64 a run changes nothing; where Windows cannot tell, the run goes on as elsewhere.
struct Wow64Case {
  const char* name;
  Failing unanswered;
  bool runsOn;
};
const Wow64Case kWow64[] = {
    {"the answer is WOW64", {}, false},
    {"kernel32 without IsWow64Process", {"GetProcAddress", "IsWow64Process"}, true},
    {"IsWow64Process failing", {"IsWow64Process"}, true},
};

TEST_P(ModeTest, EveryModeDoesItsOwnWorkAndEveryFailingCallEndsCleanWithinTheProduct) {
  const Mode& mode = GetParam();
  SCOPED_TRACE("mode "s + mode.name);
  PrepareTemplate(mode);
  OpenCopy();
  CheckedRun(mode.tail);
  const std::vector<sim::CallRecord> calls = sim::CallLog();
  const MachineState left = Capture();
  // An install puts every INF into the store before it removes the first device.
  std::vector<std::string> called;
  for (const sim::CallRecord& call : calls) called.push_back(call.name);
  const auto firstRemoval = std::find(called.begin(), called.end(), "SetupDiCallClassInstaller");
  EXPECT_EQ(std::find(firstRemoval, called.end(), "SetupCopyOEMInfA"), called.end())
      << "a copy after a removal";
  // Every mode removes the adapters and their service; the staged package stays.
  for (const FieldDevice& device : kOwnDevices) EXPECT_FALSE(HasDevice(device.instance)) << device.instance;
  EXPECT_FALSE(Has("SYSTEM\\CurrentControlSet\\Services\\RX90K")) << "the service RX90K";
  EXPECT_EQ(Has(kProduct), mode.tail != "/u"s) << "the product's key, which only the uninstall takes";
  EXPECT_EQ(Exists("C:\\Windows\\INF\\oem0.inf"), mode.tail != "/u"s) << "the stored copy oem0.inf";
  EXPECT_TRUE(Exists(kInstall + "net7341a.inf"s)) << "the staged net7341a.inf";
  for (const Wow64Case& row : kWow64) {
    SCOPED_TRACE(row.name);
    OpenCopy();
    sim::TheSetup().underWow64 = true;
    const MachineState before = Capture();
    Fail(row.unanswered);
    CheckedRun(mode.tail);
    EXPECT_EQ(Differences(row.runsOn ? left : before, Capture()), "");
  }

  // Each call of the run fails in turn. A folder that fills its whole buffer is none: nothing
  // goes to, or is deleted from, the root. A program image that cannot be named leaves the staged one.
  std::set<std::string> names;
  for (uint32_t k = 1; k <= calls.size(); ++k) {
    const sim::CallRecord& call = calls[k - 1];
    names.insert(call.name);
    std::vector<sim::Fault> faults = {sim::Fault{}};
    if (call.name == "GetSystemDirectoryA" || call.name == "GetWindowsDirectoryA")
      faults.push_back({0, true, 512});
    if (call.name == "GetModuleFileNameA") faults.push_back({0, true, MAX_PATH});
    for (const sim::Fault& fault : faults) {
      SCOPED_TRACE("call " + std::to_string(k) + " " + call.name + " " + call.detail + ", " +
                   FaultText(fault));
      OpenCopy();
      const MachineState before = Capture();
      sim::FailCallNumber(k, fault);
      CheckedRun(mode.tail, call.name, 1);
      // The store refusing an INF fails the install: nothing but its own "Install" and staging change.
      if (call.name == "SetupCopyOEMInfA" && call.detail.find("style=0x0") != std::string::npos) {
        EXPECT_EQ(ForeignToAFailedInstall(Differences(before, Capture())), "");
      }
      const std::string image = "file "s + kInstall + "qnetprep.exe";
      if (call.name == "GetModuleFileNameA") EXPECT_EQ(Capture().count(image), before.count(image));
    }
  }
  for (const std::string& name : names) {
    SCOPED_TRACE("every " + name + " failing");
    OpenCopy();
    sim::FailCallOn(name, "", sim::Fault{});
    CheckedRun(mode.tail, name, kEveryClose);
  }
}

// Stopped at any call and run again, a run ends as an uninterrupted one. A package whose last INF was cut
// short in transit makes a failing install: stopped at any call, it leaves what a failed install leaves,
// and at most its new copy, unrecorded (stopped after the store took it and before its take-out ended).
TEST_P(ModeTest, ARunStoppedAtAnyCallLeavesWhatItsRunAgainOrAFailedInstallLeaves) {
  SCOPED_TRACE("mode "s + GetParam().name);
  PrepareTemplate(GetParam());
  // Each call of the run just made, in turn, stops it on a copy of the template.
  const auto stopAtEachCall = [this](const char* run, const std::function<void()>& check) {
    const std::vector<std::string> calls = calls_;
    for (uint32_t k = 1; k <= calls.size(); ++k) {
      SCOPED_TRACE(run + " run stopped at call "s + std::to_string(k) + ": " + calls[k - 1]);
      folder_ = CopyTemplate("interrupted");
      ASSERT_EQ(Spawn(folder_, k), sim::kCrashExitCode) << "exit code of the stopped run";
      ASSERT_EQ(calls_.size(), k) << "calls of the stopped run";
      check();
    }
  };
  ASSERT_EQ(Spawn(folder_ = CopyTemplate("uninterrupted")), 1) << "exit code";
  sim::OpenMachine(folder_, folder_ + "/drive_c/pkg");
  const MachineState uninterrupted = Capture();
  stopAtEachCall("an uninterrupted", [&] {
    ASSERT_EQ(Spawn(folder_), 1) << "exit code of the run again";
    sim::OpenMachine(folder_, folder_ + "/drive_c/pkg");
    EXPECT_EQ(Differences(uninterrupted, Capture()), "") << "against the uninterrupted run";
  });
  if (GetParam().tail == "/u"s) return;  // an uninstall installs nothing
  const bool single = std::strstr(GetParam().tail, "/inf=") != nullptr;
  fs::resize_file(template_ + "/drive_c/pkg/" + (single ? "net7341a.inf" : "net73417.inf"), 19);
  sim::OpenMachine(template_, template_ + "/drive_c/pkg");
  folder_ = template_;
  const MachineState before = Capture();
  ASSERT_EQ(Spawn(CopyTemplate("failing")), 1) << "exit code";
  stopAtEachCall("a failing", [&] {
    sim::OpenMachine(folder_, folder_ + "/drive_c/pkg");
    EXPECT_EQ(ForeignToAFailedInstall(Differences(before, Capture()), true), "");
  });
}

std::string ModeName(const testing::TestParamInfo<Mode>& mode) {
  return mode.param.name;
}
INSTANTIATE_TEST_SUITE_P(Modes, ModeTest, testing::ValuesIn(kModes), ModeName);

using BadInputTest = MachineTest;

// A command tail and what lies in the way; then how many copies of the INF labelled `inf` the
// store holds, whether the install folder holds a file so named, and standard output.
struct BadInputCase {
  const char* name;
  std::string tail;
  std::function<void()> arrange;
  std::string inf;
  int storedCopies;
  bool staged;
  std::string output;
};

TEST_F(BadInputTest, OddTailsFilesInTheWayAndFoldersOfEveryLength) {
  PrepareTemplate(kModes[0]);
  const std::string j228 = std::string(224, 'j') + ".inf";
  const std::string denied = "CopyFile error, error value = 5";
  const std::string deep = "C:\\" + std::string(200, 'd') + "\\" + std::string(55, 'd');
  const auto packageInf = [this](const std::string& name) {
    return [=] { Write("C:\\pkg\\" + name, InfText(name)); };
  };
  const BadInputCase cases[] = {
      {"a tail of 200000 characters", std::string(100000, 'x') + " /au " + std::string(100000, 'y'), nullptr,
       "net7341a.inf", 1, true, "SetFileAttributes error, error value = 2"},
      // The install folder takes 32 characters: no path of a name of 228 fits, nor of 500.
      {"an INF name of 228 characters", "/inf=" + j228, packageInf(j228), j228, 0, false, ""},
      {"an INF name of 500 characters", "/au /inf=" + std::string(500, 'q'), nullptr, "", 0, false, ""},
      {"an INF name that climbs", "/inf=..\\..\\Zentrix\\x.inf", packageInf("..\\..\\Zentrix\\x.inf"),
       "..\\..\\Zentrix\\x.inf", 0, false, ""},
      // A self-copy that cannot be made is told, after each INF installed.
      {"a folder in the self-copy's place", "/au", [this] { fs::create_directories(Linux(kSelfCopy)); },
       "net73417.inf", 1, true, denied + denied},
      // At 259 characters the current folder is read, but no path in it fits.
      {"a current folder of 259 characters", "", [&] { sim::TheMachine().currentDirectory = deep; },
       "net7341a.inf", 0, false, ""},
      {"an INF name with a wildcard", "/inf=*.inf", nullptr, "*.inf", 0, false, ""},
      {"an INF below folders not there", "/inf=x./.\\a../q.inf..", nullptr, "q.inf", 0, false, ""},
      {"a file named with a trailing separator", "/inf=qnetprep.exe/", nullptr, "qnetprep.exe", 0, false, ""},
      {"an INF argument naming a folder", "/inf=sub\\", packageInf("sub\\x.inf"), "sub\\x.inf", 0, false, ""},
      {"no ProgramFiles variable", "", [] { unsetenv("ProgramFiles"); }, "net7341a.inf", 1, true, ""},
  };
  for (const BadInputCase& row : cases) {
    SCOPED_TRACE(row.name);
    OpenCopy();
    if (row.arrange) row.arrange();
    CheckedRun(row.tail);
    int stored = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(Linux("C:\\Windows\\INF")))
      stored += Slurp(entry.path()).find("; " + row.inf + "\n") != std::string::npos ? 1 : 0;
    EXPECT_EQ(stored, row.storedCopies) << "copies of " << row.inf << " in the store";
    EXPECT_EQ(Exists(kInstall + row.inf), row.staged) << "staged " << row.inf;
    EXPECT_EQ(output_, row.output) << "standard output";
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
