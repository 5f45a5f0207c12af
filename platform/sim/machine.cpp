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
#include "platform/sim/folder_security.h"
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

// The machine's own files are read before the installer starts and written after it ends:
// no call of the installer reaches what follows, and only the host or a test makes it fail.
// GCOVR_EXCL_BR_START
// A machine that cannot be read must not be replaced by an empty one on save: the
// process stops before it could.
[[noreturn]] void StopOnDamagedMachine(const std::string& file, const std::string& why) {
  std::fprintf(stderr, "qnetprep: cannot read the simulated machine's %s: %s\n", file.c_str(), why.c_str());
  std::exit(2);
}

// Reads a file of the machine's own with `parse(text, &why)`; false when it does not exist.
// Any other failure stops.
template <typename Parse>
bool LoadMachineFile(const std::string& path, Parse parse) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return false;
    StopOnDamagedMachine(path, std::strerror(errno));
  }
  std::string text;
  std::string why = "cannot read it";
  if (!ReadWholeFile(path, &text) || !parse(text, &why)) StopOnDamagedMachine(path, why);
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

// The machine's files of records per path, attributes and descriptors: one line per path,
// "<record> <path>", the path relative to the machine folder when it lies inside it (so the
// folder can be moved). Paths that `exists` no longer finds take their records with them.
template <typename Records, typename Format>
std::string FormatPathFile(Records& records, const std::string& machineFolder,
                           int (*exists)(const char*, struct stat*), Format format) {
  std::string text;
  const std::string inside = machineFolder + "/";
  for (auto kept = records.begin(); kept != records.end();) {
    struct stat info;
    if (exists(kept->first.c_str(), &info) != 0) {
      kept = records.erase(kept);
      continue;
    }
    const std::string& path = kept->first;
    text += format(kept->second) + " " +
            (path.compare(0, inside.size(), inside) == 0 ? path.substr(inside.size()) : path) + "\n";
    ++kept;
  }
  return text;
}

// `parse(record, linuxPath)` for each line; false when it refuses one.
template <typename Parse>
bool ParsePathFile(const std::string& text, const std::string& machineFolder, const char* form, Parse parse,
                   std::string* error) {
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    const size_t space = line.find(' ');
    const std::string path = space == std::string::npos ? "" : line.substr(space + 1);
    if (line.empty()) continue;
    if (path.empty() || !parse(line.substr(0, space), path[0] == '/' ? path : machineFolder + "/" + path)) {
      *error = "line " + std::to_string(number) + " is not \"" + form + " <path>\": " + line;
      return false;
    }
  }
  return true;
}

}  // namespace
// GCOVR_EXCL_BR_STOP

bool ReadWholeFile(const std::string& linuxPath, std::string* text) {
  std::ifstream in(linuxPath, std::ios::binary);
  if (!in) return false;
  std::ostringstream content;
  content << in.rdbuf();
  *text = content.str();
  return !in.bad();
}

DWORD StoredAttributes(const std::string& linuxPath) {
  const auto& attributes = TheMachine().fileAttributes;
  const auto found = attributes.find(linuxPath);
  return found == attributes.end() ? 0 : found->second;
}

void StoreAttributes(const std::string& linuxPath, DWORD attributes) {
  const DWORD kept = attributes & kKeptAttributes;
  if (kept == 0) {
    TheMachine().fileAttributes.erase(linuxPath);
  } else {
    TheMachine().fileAttributes[linuxPath] = kept;
  }
}

Machine& TheMachine() {
  static Machine machine;
  return machine;
}

// As the other storage above.
// GCOVR_EXCL_BR_START
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

  const bool registryRead =
      LoadMachineFile(absolute + "/" + kRegistryFileName, [&](const std::string& text, std::string* why) {
        return ParseRegistryFile(text, *machine.localMachine, kLocalMachineRoot, why);
      });
  if (!registryRead) {
    for (const char* key : kSystemKeys) CreateKeyPath(machine.localMachine, key);
  }
  LoadMachineFile(absolute + "/" + kAttributesFileName, [&](const std::string& text, std::string* why) {
    return ParsePathFile(
        text, absolute, "<bits>",
        [&](const std::string& record, const std::string& path) {
          char* end = nullptr;
          const unsigned long bits = std::strtoul(record.c_str(), &end, 16);
          if (bits != 0) machine.fileAttributes[path] = static_cast<DWORD>(bits);
          return end == record.c_str() + record.size() &&
                 (bits & ~static_cast<unsigned long>(kKeptAttributes)) == 0;
        },
        why);
  });
  LoadMachineFile(absolute + "/" + kSecurityFileName, [&](const std::string& text, std::string* why) {
    return ParsePathFile(
        text, absolute, "<SDDL>",
        [&](const std::string& record, const std::string& path) {
          return ParseSddl(record, &machine.security[path]);
        },
        why);
  });

  machine.currentDirectory = MapLinuxPath(linuxCurrentDirectory);
  ResetSetup(machine.currentDirectory);
  ResetCalls();
}

void SaveMachine() {
  Machine& machine = TheMachine();
  if (machine.folder.empty() || machine.localMachine == nullptr) return;
  WriteFileAtomically(machine.folder + "/" + kRegistryFileName,
                      FormatRegistryFile(*machine.localMachine, kLocalMachineRoot));
  WriteFileAtomically(machine.folder + "/" + kAttributesFileName,
                      FormatPathFile(machine.fileAttributes, machine.folder, ::stat, [](DWORD bits) {
                        char hex[16];
                        std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(bits));
                        return std::string(hex);
                      }));
  WriteFileAtomically(machine.folder + "/" + kSecurityFileName,
                      FormatPathFile(machine.security, machine.folder, ::lstat, FormatSddl));
}

std::string DefaultMachineFolder() {
  const char* folder = std::getenv("QNETPREP_MACHINE");
  if (folder == nullptr || *folder == '\0') StopOnDamagedMachine("folder", "QNETPREP_MACHINE is not set");
  return folder;
}

}  // namespace sim
// GCOVR_EXCL_BR_STOP
