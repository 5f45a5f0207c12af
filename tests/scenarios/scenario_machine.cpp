#include "tests/scenarios/scenario_machine.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/sim/file_attributes.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_control.h"

namespace fs = std::filesystem;

namespace {

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string DescribeValue(const sim::RegValue& value) {
  const std::string data(value.data.begin(), value.data.end());
  const size_t nul = data.find('\0');
  std::string text = "\"" + data.substr(0, nul) + "\"";
  if (nul != std::string::npos) {
    const bool onlyNuls = data.find_first_not_of('\0', nul) == std::string::npos;
    text += onlyNuls ? " + NULs" : " + other bytes";
  }
  return value.name + " type " + std::to_string(value.type) + ", " + std::to_string(value.data.size()) +
         " bytes, " + text;
}

void DescribeKey(const sim::RegKey& key, const std::string& path, std::vector<std::string>* lines) {
  lines->push_back(path);
  for (const sim::RegValue& value : key.values) lines->push_back(path + ": " + DescribeValue(value));
  for (const auto& subkey : key.subkeys) DescribeKey(*subkey, path + "\\" + subkey->name, lines);
}

}  // namespace

void ScenarioTest::SetUp() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/qnetprep-scenario-XXXXXX";
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  machine_ = fs::canonical(pattern).string();
  packageDir_ = machine_ + "/drive_c/pkg";
  fs::create_directories(packageDir_);
}

void ScenarioTest::TearDown() {
  std::error_code error;
  if (!machine_.empty()) fs::remove_all(machine_, error);
}

ProcessResult ScenarioTest::Run(const std::vector<std::string>& arguments, const std::string& linuxFolder,
                                const char* programFiles) {
  const std::string outputFile = machine_ + ".stdout";
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    const std::string folder = linuxFolder.empty() ? packageDir_ : linuxFolder;
    if (chdir(folder.c_str()) != 0) _exit(120);
    setenv("QNETPREP_MACHINE", machine_.c_str(), 1);
    if (programFiles != nullptr) {
      setenv("ProgramFiles", programFiles, 1);
    } else {
      unsetenv("ProgramFiles");
    }
    for (const char* name :
         {"QNETPREP_FAIL_CALL", "QNETPREP_FAIL_NAME", "QNETPREP_CRASH_AT", "QNETPREP_CALL_LOG"}) {
      unsetenv(name);
    }
    const int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || dup2(out, STDOUT_FILENO) < 0) _exit(121);
    std::vector<char*> argv;
    std::string program = QNETPREP_EXE_PATH;
    argv.push_back(program.data());
    std::vector<std::string> copies(arguments);
    for (std::string& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(122);
  }
  ProcessResult result;
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status))
    result.exitCode = WEXITSTATUS(status);
  result.output = ReadWhole(outputFile);
  std::remove(outputFile.c_str());
  return result;
}

const std::vector<std::string>& ScenarioTest::PackageFiles() {
  static const std::vector<std::string> files = {
      "Net73417.din", "7341XDEL.EXE", "7341XNDI.DLL", "net7341a.inf", "net73417.inf", "rx90kw2a.cat",
      "RX90KW2K.CAT", "RX90K.CAT",    "RX90KA.CAT",   "RX90K.SYS",    "RX90KNT.SYS",  "RX90KNT5.SYS",
      "PRBQ410.EXE",  "WKE736.VXD",   "Kadrimov.exe", "OrvixNic.dll", "rx90kodi.com"};
  return files;
}

void ScenarioTest::WritePackage(const std::string& version) {
  for (const std::string& name : PackageFiles()) WriteFile("drive_c/pkg/" + name, PackageFileText(name, version));
  WriteFile("drive_c/pkg/qnetprep.exe", "program " + version);
}

void ScenarioTest::EditMachine(const std::function<void()>& edit) {
  sim::OpenMachine(machine_, packageDir_);
  edit();
  sim::SaveMachine();
}

std::shared_ptr<sim::RegKey> ScenarioTest::Registry() {
  auto root = std::make_shared<sim::RegKey>();
  std::string error;
  EXPECT_TRUE(
      sim::ParseRegistryFile(ReadWhole(machine_ + "/registry.reg"), *root, "HKEY_LOCAL_MACHINE", &error))
      << error;
  return root;
}

bool ScenarioTest::KeyExists(const std::string& path) {
  return sim::FindKeyPath(Registry(), path) != nullptr;
}

std::vector<std::string> ScenarioTest::Describe(const std::string& path) {
  std::vector<std::string> lines;
  const auto key = sim::FindKeyPath(Registry(), path);
  if (key != nullptr) DescribeKey(*key, path, &lines);
  return lines;
}

std::vector<std::string> ScenarioTest::Files() {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(machine_)) {
    if (!entry.is_regular_file()) continue;
    const std::string relative = fs::relative(entry.path(), machine_).string();
    if (relative == "registry.reg" || relative == sim::kAttributesFileName) continue;
    files.push_back(relative);
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string ScenarioTest::ReadFile(const std::string& relativePath) {
  return ReadWhole(Linux(relativePath));
}

void ScenarioTest::WriteFile(const std::string& relativePath, const std::string& content) {
  fs::create_directories(fs::path(Linux(relativePath)).parent_path());
  std::ofstream out(Linux(relativePath), std::ios::binary | std::ios::trunc);
  out << content;
  ASSERT_TRUE(out.good()) << relativePath;
}

DWORD ScenarioTest::Attributes(const std::string& relativePath) {
  std::map<std::string, DWORD> attributes;
  std::string error;
  EXPECT_TRUE(sim::ParseAttributesFile(ReadWhole(machine_ + "/" + sim::kAttributesFileName), machine_,
                                       &attributes, &error))
      << error;
  const auto found = attributes.find(Linux(relativePath));
  return found == attributes.end() ? 0 : found->second;
}
