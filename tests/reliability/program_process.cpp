#include "tests/reliability/program_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool Overridden(const std::string& entry, const std::vector<std::string>& settings) {
  const std::string name = entry.substr(0, entry.find('=') + 1);
  for (const std::string& setting : settings) {
    if (setting.compare(0, name.size(), name) == 0) return true;
  }
  return false;
}

}  // namespace

ProgramRun RunProgram(const std::string& machineFolder, const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment) {
  const std::string outputFile = machineFolder + ".stdout";
  const std::string errorFile = machineFolder + ".stderr";
  const std::string logFile = machineFolder + ".calls";
  const std::string packageFolder = machineFolder + "/drive_c/pkg";

  std::vector<std::string> settings = environment;
  settings.push_back("QNETPREP_MACHINE=" + machineFolder);
  settings.push_back("QNETPREP_CALL_LOG=" + logFile);
  settings.push_back("ProgramFiles=C:\\Program Files");
  // A sanitizer report must not pass for the program's own exit code 1.
  settings.push_back("ASAN_OPTIONS=exitcode=99:abort_on_error=0");
  settings.push_back("UBSAN_OPTIONS=exitcode=99:halt_on_error=1:print_stacktrace=1");
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!Overridden(*entry, settings)) entries.push_back(*entry);
  }
  entries.insert(entries.end(), settings.begin(), settings.end());

  std::vector<char*> argv = {const_cast<char*>(QNETPREP_EXE_PATH)};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);

  ProgramRun run;
  // posix_spawn rather than fork: copying the page tables of a sanitized test process
  // costs more than the whole run of the program.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addchdir_np(&actions, packageFolder.c_str());
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  run.output = ReadAll(outputFile);
  run.errors = ReadAll(errorFile);
  run.calls = Lines(ReadAll(logFile));
  ::unlink(outputFile.c_str());
  ::unlink(errorFile.c_str());
  ::unlink(logFile.c_str());
  return run;
}
