#include "platform/sim/paths.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <filesystem>
#include <set>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/machine_setup.h"

namespace sim {
namespace {

// Sets the error that Windows gives for the path; false.
bool Refuse(DWORD* error, DWORD code) {
  *error = code;
  return false;
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// The characters that Windows refuses in a name: the control characters and those it reserves.
const std::string kInvalidNameCharacters = [] {
  std::string characters = "<>:\"|?*";
  for (char c = 1; c < 32; ++c) characters += c;
  return characters;
}();

// Only a folder has "." below it.
bool IsFolder(const std::string& linuxPath) {
  struct stat info;
  return ::stat((linuxPath + "/.").c_str(), &info) == 0;
}

// The Linux root is "": every component adds "/name".
std::string JoinLinux(const std::string& folder, const std::string& name) {
  return folder + "/" + name;
}

// The name under which `folder` holds `name`: the name itself when it exists as
// written, else the first entry (in byte order, so the choice is stable) that differs
// only in case; empty when there is none.
std::string FindEntryIgnoringCase(const std::string& folder, const std::string& name) {
  struct stat info;
  if (::stat(JoinLinux(folder, name).c_str(), &info) == 0) return name;
  DIR* dir = ::opendir((folder + "/").c_str());
  if (dir == nullptr) return std::string();
  std::set<std::string> matches;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string candidate = entry->d_name;
    if (candidate == "." || candidate == "..") continue;
    if (NamesEqual(candidate, name)) matches.insert(candidate);
  }
  ::closedir(dir);
  return matches.empty() ? std::string() : *matches.begin();
}

// "X:\" followed by the path below the drive's root as segments.
struct SplitPath {
  char drive = 'C';
  std::vector<std::string> segments;
  bool trailingSeparator = false;
};

// Windows drops one period that ends a segment ("name." is "name") and, unless the
// path ends with a separator, every trailing period and space of the last segment.
void AppendSegment(std::vector<std::string>* segments, std::string segment, bool isLast, bool trailing) {
  if (segment == "..") {
    if (!segments->empty()) segments->pop_back();
    return;
  }
  if (segment.size() >= 2 && segment.back() == '.' && segment[segment.size() - 2] != '.') segment.pop_back();
  if (isLast && !trailing) segment.erase(segment.find_last_not_of(". ") + 1);
  if (segment.empty() || segment == ".") return;
  segments->push_back(segment);
}

// The program names every file and folder by its full path, "X:\...".
bool SplitWindowsPath(const std::string& path, SplitPath* split, DWORD* error) {
  if (path.size() >= MAX_PATH) return Refuse(error, ERROR_FILENAME_EXCED_RANGE);
  if (path.empty()) return Refuse(error, ERROR_PATH_NOT_FOUND);
  // Only a program that lost its folder names a path from the current drive's root ("\name"): it must
  // then find, and change, what Windows would there.
  // GCOVR_EXCL_BR_START
  const bool rooted = IsSeparator(path[0]);
  const char drive = rooted ? TheMachine().currentDirectory[0] : path[0];
  const std::string belowDrive = path.substr(rooted ? 0 : 2);
  // GCOVR_EXCL_BR_STOP
  split->drive = static_cast<char>(std::toupper(static_cast<unsigned char>(drive)));
  if (belowDrive.find_first_of(kInvalidNameCharacters) != std::string::npos)
    return Refuse(error, ERROR_INVALID_NAME);
  split->trailingSeparator = IsSeparator(belowDrive.back());

  std::vector<std::string> raw;
  auto addAll = [&raw](const std::string& text) {
    std::string segment;
    for (char c : text) {
      if (IsSeparator(c)) {
        raw.push_back(segment);
        segment.clear();
      } else {
        segment += c;
      }
    }
    raw.push_back(segment);
  };
  addAll(belowDrive);
  // Without a trailing separator the last segment is the last one given.
  for (size_t i = 0; i < raw.size(); ++i) {
    AppendSegment(&split->segments, raw[i], i + 1 == raw.size(), split->trailingSeparator);
  }
  return true;
}

std::string FormatWindowsPath(const SplitPath& split) {
  std::string full{split.drive, ':', '\\'};
  for (size_t i = 0; i < split.segments.size(); ++i) {
    if (i > 0) full += '\\';
    full += split.segments[i];
  }
  return full;
}

}  // namespace

bool MapWindowsPath(const std::string& path, MappedPath* mapped, DWORD* error) {
  SplitPath split;
  if (!SplitWindowsPath(path, &split, error)) return false;
  if (const DWORD cutOff = NetworkDriveError(split.drive)) return Refuse(error, cutOff);
  // A full path only loses separators and dots: it fits as given.
  const std::string windowsPath = FormatWindowsPath(split);
  std::vector<std::string> components;
  std::string linuxPath;
  // Only a run started by hand from a Linux folder outside the machine (no test, no demo) is on Z:.
  if (split.drive == 'Z') {  // GCOVR_EXCL_BR_LINE
    linuxPath.clear();
  } else {
    linuxPath = TheMachine().folder;
    components.push_back(std::string("drive_") + static_cast<char>(std::tolower(split.drive)));
  }
  components.insert(components.end(), split.segments.begin(), split.segments.end());
  bool onDisk = true;  // once a component is missing, nothing below it can exist
  for (const std::string& component : components) {
    std::string name = component;
    if (onDisk) {
      const std::string found = FindEntryIgnoringCase(linuxPath, component);
      if (found.empty()) {
        onDisk = false;
      } else {
        name = found;
      }
    }
    linuxPath = JoinLinux(linuxPath, name);
  }
  mapped->windowsPath = windowsPath;
  mapped->linuxPath = linuxPath;
  mapped->trailingSeparator = split.trailingSeparator;
  return true;
}

// The machine's current folder and the files that tests read lie in a folder below a drive_x
// folder; a run started by hand elsewhere (no test, no scenario, no demo) is the one that sees
// the other forms: a drive's own folder, and Z:. The paths come without a trailing '/'.
std::string MapLinuxPath(const std::string& linuxPath) {
  const std::string path = std::filesystem::path(linuxPath).lexically_normal().string();
  const std::string& folder = TheMachine().folder;
  // GCOVR_EXCL_BR_START
  if (path.size() > folder.size() + 7 && path.compare(0, folder.size(), folder) == 0 &&
      path[folder.size()] == '/') {
    const std::string rest = path.substr(folder.size() + 1);  // "drive_c/pkg"
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(rest[6])));
    if (NamesEqual(rest.substr(0, 6), "drive_") && std::isalpha(static_cast<unsigned char>(letter)) &&
        letter != 'z' && (rest.size() == 7 || rest[7] == '/')) {
      // GCOVR_EXCL_BR_STOP
      std::string windowsPath{static_cast<char>(std::toupper(letter)), ':', '\\'};
      for (size_t i = 8; i < rest.size(); ++i) windowsPath += rest[i] == '/' ? '\\' : rest[i];
      return windowsPath;
    }
  }
  // GCOVR_EXCL_BR_START
  std::string windowsPath = "Z:";
  for (char c : path) windowsPath += c == '/' ? '\\' : c;
  return windowsPath;
  // GCOVR_EXCL_BR_STOP
}

DWORD MissingPathError(const MappedPath& mapped) {
  // The program names no drive's root alone.
  return IsFolder(LinuxParent(mapped.linuxPath)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

std::string LinuxParent(const std::string& linuxPath) {
  return linuxPath.substr(0, linuxPath.find_last_of('/'));
}

}  // namespace sim
