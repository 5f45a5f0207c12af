// The built program stopped at each platform call in turn, as a power cut stops it (the
// machine keeps what was written before the call), then started again in the same
// mode: the machine must end as an uninterrupted run leaves it. Only a process can be
// stopped in the middle of a run, so these runs are processes.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

#include "tests/support/machine.h"

extern char** environ;

namespace {

class CrashRerunTest : public MachineTest, public testing::WithParamInterface<Mode> {
 protected:
  // Runs the program on `machine` with `tail`'s words as arguments; returns its exit
  // code (-1 when it did not end normally) and leaves its call log in calls_.
  int Spawn(const std::string& machine, uint32_t crashAt = 0) {
    setenv("QNETPREP_MACHINE", machine.c_str(), 1);
    setenv("QNETPREP_CALL_LOG", (machine + ".calls").c_str(), 1);
    setenv("QNETPREP_CRASH_AT", std::to_string(crashAt).c_str(), 1);
    // A sanitizer report must not pass for the program's own exit code.
    setenv("ASAN_OPTIONS", "exitcode=99", 1);
    setenv("UBSAN_OPTIONS", "exitcode=99:halt_on_error=1", 1);
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
    int status = 0;
    const bool ran = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0 &&
                     ::waitpid(child, &status, 0) == child;
    posix_spawn_file_actions_destroy(&actions);
    unsetenv("QNETPREP_CRASH_AT");
    calls_.clear();
    std::ifstream log(machine + ".calls");
    for (std::string line; std::getline(log, line);) calls_.push_back(line);
    return ran && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  MachineState StateOf(const std::string& machine) {
    folder_ = machine;
    sim::OpenMachine(machine, machine + "/drive_c/pkg");
    return Capture();
  }
  std::vector<std::string> calls_;
};

TEST_P(CrashRerunTest, ARunStoppedAtAnyCallAndRunAgainEndsAsAnUninterruptedRun) {
  PrepareTemplate(GetParam());
  const std::string reference = CopyTemplate("uninterrupted");
  ASSERT_EQ(Spawn(reference), 1);
  const std::vector<std::string> calls = calls_;
  ASSERT_FALSE(calls.empty());
  const MachineState expected = StateOf(reference);
  for (uint32_t k = 1; k <= calls.size(); ++k) {
    SCOPED_TRACE("stopped at call " + std::to_string(k) + ": " + calls[k - 1]);
    const std::string machine = CopyTemplate("interrupted");
    ASSERT_EQ(Spawn(machine, k), sim::kCrashExitCode);
    ASSERT_EQ(calls_.size(), k);
    ASSERT_EQ(Spawn(machine), 1);
    EXPECT_EQ(Lines(Differences(expected, StateOf(machine))), "");
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, CrashRerunTest, testing::ValuesIn(kModes), ModeName);

}  // namespace
