#include "platform/sim/machine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/sim/file_attributes.h"
#include "platform/sim/handle_table.h"
#include "platform/sim/machine_setup.h"
#include "platform/sim/paths.h"
#include "platform/sim/sim_control.h"

namespace sim {
namespace {

constexpr const char* kRegistryFileName = "registry.reg";
constexpr const char* kLocalMachineRoot = "HKEY_LOCAL_MACHINE";

// Folders and keys that every Windows installation has before any program runs.
constexpr const char* kSystemFolders[] = {"drive_c/Windows/System32", "drive_c/Windows/INF",
                                          "drive_c/Program Files"};
constexpr const char* kSystemKeys[] = {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                                       kEnumKeyPath, kServicesKeyPath};

// A machine that cannot be read must not be replaced by an empty one on save: the
// process stops before it could.
[[noreturn]] void StopOnDamagedMachine(const std::string& file, const std::string& why) {
  std::fprintf(stderr, "qnetprep: cannot read the simulated machine's %s: %s\n", file.c_str(), why.c_str());
  std::exit(2);
}

// A file of the machine's own; false when it does not exist. Any other failure stops.
bool ReadMachineFile(const std::string& path, std::string* text) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return false;
    StopOnDamagedMachine(path, std::strerror(errno));
  }
  if (!ReadWholeFile(path, text)) StopOnDamagedMachine(path, "cannot read it");
  return true;
}

// Writes to a temporary file beside `path` and renames it over `path`, so that a
// reader sees the old file or the new one, never a part of either.
bool WriteFileAtomically(const std::string& path, const std::string& text) {
  std::string temporary = path + ".tmp-XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    std::fprintf(stderr, "qnetprep: cannot create a file beside %s: %s\n", path.c_str(),
                 std::strerror(errno));
    return false;
  }
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  const bool complete = written == text.size() && ::fsync(fd) == 0;
  ::close(fd);
  if (!complete || ::rename(temporary.c_str(), path.c_str()) != 0) {
    std::fprintf(stderr, "qnetprep: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool ReadWholeFile(const std::string& linuxPath, std::string* text) {
  std::ifstream in(linuxPath, std::ios::binary);
  if (!in) return false;
  std::ostringstream content;
  content << in.rdbuf();
  *text = content.str();
  return !in.bad();
}

Machine& TheMachine() {
  static Machine machine;
  return machine;
}

void OpenMachine(const std::string& folder, const std::string& linuxCurrentDirectory) {
  namespace fs = std::filesystem;
  std::error_code error;
  for (const char* systemFolder : kSystemFolders) {
    fs::create_directories(fs::path(folder) / systemFolder, error);
    if (error) StopOnDamagedMachine(folder, error.message());
  }
  const std::string absolute = fs::canonical(folder, error).string();
  if (error) StopOnDamagedMachine(folder, error.message());

  ++MachineGeneration();  // closes every handle of the machine before
  Machine& machine = TheMachine();
  machine = Machine();
  machine.folder = absolute;
  machine.localMachine = std::make_shared<RegKey>();
  machine.localMachine->name = kLocalMachineRoot;

  std::string text;
  const std::string registryFile = absolute + "/" + kRegistryFileName;
  if (ReadMachineFile(registryFile, &text)) {
    std::string why;
    if (!ParseRegistryFile(text, *machine.localMachine, kLocalMachineRoot, &why)) {
      StopOnDamagedMachine(registryFile, why);
    }
  } else {
    for (const char* key : kSystemKeys) CreateKeyPath(machine.localMachine, key);
  }

  const std::string attributesFile = absolute + "/" + kAttributesFileName;
  if (ReadMachineFile(attributesFile, &text)) {
    std::string why;
    if (!ParseAttributesFile(text, absolute, &machine.fileAttributes, &why)) {
      StopOnDamagedMachine(attributesFile, why);
    }
  }

  machine.currentDirectory = MapLinuxPath(linuxCurrentDirectory);
  ResetSetup(machine.currentDirectory);
  ResetCalls();
}

void SaveMachine() {
  Machine& machine = TheMachine();
  if (machine.folder.empty() || machine.localMachine == nullptr) return;
  WriteFileAtomically(machine.folder + "/" + kRegistryFileName,
                      FormatRegistryFile(*machine.localMachine, kLocalMachineRoot));
  // Files removed behind the machine's back take their attributes with them.
  std::map<std::string, DWORD> present;
  for (const auto& [path, bits] : machine.fileAttributes) {
    struct stat info;
    if (::stat(path.c_str(), &info) == 0) present.emplace(path, bits);
  }
  machine.fileAttributes = present;
  WriteFileAtomically(machine.folder + "/" + kAttributesFileName,
                      FormatAttributesFile(present, machine.folder));
}

std::string DefaultMachineFolder() {
  const char* folder = std::getenv("QNETPREP_MACHINE");
  if (folder == nullptr || *folder == '\0') StopOnDamagedMachine("folder", "QNETPREP_MACHINE is not set");
  return folder;
}

}  // namespace sim
