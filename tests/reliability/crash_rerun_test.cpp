// The built program stopped at each platform call in turn, as a power cut would stop
// it (the machine keeps what was written before the call), then started again in the
// same mode: the machine ends as an uninterrupted run leaves it.
//
// What the records cannot know about: a recorded install stopped after the INF store
// took its copy and before the copy's name reached its record slot leaves a stored
// INF that no record names. Run again in the same mode, the install gets the same
// stored copy back (the store keeps one copy per content) and records it; but an
// uninstall that follows instead, or a later install of a changed package, leaves that
// copy in the store for good.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

#include "tests/reliability/reliability_machine.h"

extern char** environ;

namespace {

std::string ReadAndRemove(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  ::unlink(path.c_str());
  return text.str();
}

struct ProgramRun {
  int exitCode = -1;  // -1 when the process did not end normally
  std::string errors;
  std::vector<std::string> calls;  // the call log, one call a line
};

// Runs the built program in the machine's C:\pkg with `tail`'s words as arguments,
// stopping it at call `crashAt` unless that is 0: only a process can be stopped in the
// middle of a run and started again.
ProgramRun RunProgram(const std::string& machine, const char* tail, uint32_t crashAt = 0) {
  setenv("QNETPREP_MACHINE", machine.c_str(), 1);
  setenv("QNETPREP_CALL_LOG", (machine + ".calls").c_str(), 1);
  crashAt != 0 ? setenv("QNETPREP_CRASH_AT", std::to_string(crashAt).c_str(), 1)
               : unsetenv("QNETPREP_CRASH_AT");
  // A sanitizer report must not pass for the program's own exit code 1.
  setenv("ASAN_OPTIONS", "exitcode=99:abort_on_error=0", 1);
  setenv("UBSAN_OPTIONS", "exitcode=99:halt_on_error=1:print_stacktrace=1", 1);
  std::vector<std::string> words = {QNETPREP_EXE_PATH};
  std::istringstream in(tail);
  for (std::string word; in >> word;) words.push_back(word);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  // posix_spawn rather than fork: copying the page tables of a sanitized test process
  // costs more than the whole run of the program.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, (machine + ".stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addchdir_np(&actions, (machine + "/drive_c/pkg").c_str());
  ProgramRun run;
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  unsetenv("QNETPREP_CRASH_AT");
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  run.errors = ReadAndRemove(machine + ".stderr");
  std::istringstream log(ReadAndRemove(machine + ".calls"));
  for (std::string line; std::getline(log, line);) run.calls.push_back(line);
  return run;
}

class CrashRerunTest : public ReliabilityTest, public ::testing::WithParamInterface<RunMode> {
 protected:
  MachineState StateOf(const std::string& machineFolder) {
    sim::OpenMachine(machineFolder, machineFolder + "/drive_c/pkg");
    return CaptureMachineState();
  }
};

TEST_P(CrashRerunTest, ARunStoppedAtAnyCallAndRunAgainEndsAsAnUninterruptedRun) {
  const RunMode& mode = GetParam();
  PrepareTemplate(mode);

  const std::string reference = CopyTemplate("uninterrupted");
  const ProgramRun uninterrupted = RunProgram(reference, mode.tail);
  ASSERT_EQ(uninterrupted.exitCode, 1) << uninterrupted.errors;
  ASSERT_EQ(uninterrupted.errors, "");
  const std::vector<std::string> calls = uninterrupted.calls;
  ASSERT_FALSE(calls.empty());
  const MachineState expected = StateOf(reference);

  for (uint32_t k = 1; k <= calls.size(); ++k) {
    const std::string where = "stopped at call " + std::to_string(k) + ": " + calls[k - 1];
    const std::string machine = CopyTemplate("interrupted");
    const ProgramRun stopped = RunProgram(machine, mode.tail, k);
    ASSERT_EQ(stopped.exitCode, sim::kCrashExitCode) << where << "\n" << stopped.errors;
    ASSERT_EQ(stopped.calls.size(), k) << where;
    const ProgramRun rerun = RunProgram(machine, mode.tail);
    ASSERT_EQ(rerun.exitCode, 1) << where << "\n" << rerun.errors;
    EXPECT_EQ(rerun.errors, "") << where;
    EXPECT_EQ(DescribeAll(Differences(expected, StateOf(machine))), "") << where;
  }
  std::printf("[ crash ] %s: %zu crash points\n", mode.name, calls.size());
}

// An uninstall after a stopped recorded install leaves what it leaves by design (the
// staged package, and the program's copy in the system folder from which it runs) and
// at most the one stored INF, with its PNF, that no record slot names yet.
TEST_F(CrashRerunTest, AnUninstallAfterAStoppedInstallLeavesOnlyTheCopyThatNoRecordNames) {
  PrepareTemplate(RunMode{"Record", "/au", false});
  const std::string reference = CopyTemplate("never installed");
  ASSERT_EQ(RunProgram(reference, "/u").exitCode, 1);
  const MachineState expected = StateOf(reference);
  const ProgramRun install = RunProgram(CopyTemplate("installed"), "/au");
  ASSERT_EQ(install.exitCode, 1);
  const std::regex storedCopy(R"((added: file C:\\Windows\\INF\\oem[0-9]+\.[ip]nf\n){2})");
  int unrecordedCases = 0;
  bool unrecorded = false;  // whether the calls before call k stored a copy not yet recorded
  for (uint32_t k = 1; k <= install.calls.size(); ++k) {
    const std::string& call = install.calls[k - 1];
    const std::string where = "stopped at call " + std::to_string(k) + ": " + call;
    const std::string machine = CopyTemplate("interrupted");
    ASSERT_EQ(RunProgram(machine, "/au", k).exitCode, sim::kCrashExitCode);
    ASSERT_EQ(RunProgram(machine, "/u").exitCode, 1) << where;
    std::vector<Change> left;
    for (const Change& change : Differences(expected, StateOf(machine))) {
      if (change.entry.find(" C:\\Program Files\\Orvix") == std::string::npos &&
          change.entry.find(" C:\\Windows\\System32\\qnetprep.exe") == std::string::npos)
        left.push_back(change);
    }
    unrecordedCases += unrecorded ? 1 : 0;
    EXPECT_TRUE(unrecorded ? std::regex_match(DescribeAll(left), storedCopy) : left.empty())
        << where << "\n"
        << DescribeAll(left);
    if (call.rfind("SetupCopyOEMInfA ", 0) == 0 && call.find(" style=0x0") != std::string::npos)
      unrecorded = true;
    if (call.rfind("RegSetValueExA ", 0) == 0 && call.find("Parameters:RenamedInf") != std::string::npos)
      unrecorded = false;
  }
  EXPECT_GT(unrecordedCases, 0);
  std::printf("[ crash ] install then uninstall: %zu crash points, %d leave an unrecorded stored INF\n",
              install.calls.size(), unrecordedCases);
}

INSTANTIATE_TEST_SUITE_P(Modes, CrashRerunTest, ::testing::ValuesIn(CoveredModes()), ModeName);

}  // namespace
