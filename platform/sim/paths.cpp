#include "platform/sim/paths.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/machine_setup.h"

namespace sim {
namespace {

constexpr DWORD kErrorBadNetPath = 53;  // ERROR_BAD_NETPATH: the machine has no network shares

// Sets the error that Windows gives for the path; false.
bool Refuse(DWORD* error, DWORD code) {
  *error = code;
  return false;
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool IsInvalidNameCharacter(char c) {
  return static_cast<unsigned char>(c) < 32 || std::strchr("<>:\"|?*", c) != nullptr;
}

bool IsFolder(const std::string& linuxPath) {
  struct stat info;
  return ::stat(linuxPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string JoinLinux(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The name under which `folder` holds `name`: the name itself when it exists as
// written, else the first entry (in byte order, so the choice is stable) that differs
// only in case; empty when there is none.
std::string FindEntryIgnoringCase(const std::string& folder, const std::string& name) {
  struct stat info;
  if (::stat(JoinLinux(folder, name).c_str(), &info) == 0) return name;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return std::string();
  std::string best;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string candidate = entry->d_name;
    if (candidate == "." || candidate == "..") continue;
    if (NamesEqual(candidate, name) && (best.empty() || candidate < best)) best = candidate;
  }
  ::closedir(dir);
  return best;
}

// "X:" followed by the path below the drive's root as segments.
struct SplitPath {
  char drive = 'C';
  std::vector<std::string> segments;
  bool trailingSeparator = false;
};

// Windows drops one period that ends a segment ("name." is "name") and, unless the
// path ends with a separator, every trailing period and space of the last segment.
void AppendSegment(std::vector<std::string>* segments, std::string segment, bool isLast, bool trailing) {
  if (segment.empty() || segment == ".") return;
  if (segment == "..") {
    if (!segments->empty()) segments->pop_back();
    return;
  }
  if (segment.size() >= 2 && segment.back() == '.' && segment[segment.size() - 2] != '.') segment.pop_back();
  if (isLast && !trailing) {
    while (!segment.empty() && (segment.back() == '.' || segment.back() == ' ')) segment.pop_back();
  }
  if (!segment.empty()) segments->push_back(segment);
}

bool SplitWindowsPath(const std::string& path, SplitPath* split, DWORD* error) {
  if (path.size() >= MAX_PATH) return Refuse(error, ERROR_FILENAME_EXCED_RANGE);
  if (path.empty()) return Refuse(error, ERROR_PATH_NOT_FOUND);
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]))
    return Refuse(error, kErrorBadNetPath);
  std::string current = TheMachine().currentDirectory;
  if (current.size() < 3 || current[1] != ':') current = "C:\\";
  const char currentDrive = static_cast<char>(std::toupper(static_cast<unsigned char>(current[0])));
  const std::string currentBelowRoot = current.substr(2);  // "\pkg" or "\"

  std::string belowDrive;  // what follows the drive, as given
  std::string base;        // the folder that a relative remainder starts from, below the root
  if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
    split->drive = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    belowDrive = path.substr(2);
    // "D:name" is relative to the current folder when that is on D:, else to D:'s root.
    if (split->drive == currentDrive) base = currentBelowRoot;
  } else {
    split->drive = currentDrive;
    belowDrive = path;
    base = currentBelowRoot;
  }
  for (char c : belowDrive) {
    if (IsInvalidNameCharacter(c)) return Refuse(error, ERROR_INVALID_NAME);
  }
  const bool rooted = !belowDrive.empty() && IsSeparator(belowDrive[0]);
  split->trailingSeparator = !belowDrive.empty() && IsSeparator(belowDrive.back());

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
  if (!rooted) addAll(base);
  addAll(belowDrive);
  size_t last = raw.size();
  while (last > 0 && raw[last - 1].empty()) --last;
  for (size_t i = 0; i < raw.size(); ++i) {
    AppendSegment(&split->segments, raw[i], i + 1 == last, split->trailingSeparator);
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
  const std::string windowsPath = FormatWindowsPath(split);
  if (windowsPath.size() >= MAX_PATH) return Refuse(error, ERROR_FILENAME_EXCED_RANGE);
  std::vector<std::string> components;
  std::string linuxPath;
  if (split.drive == 'Z') {
    linuxPath = "/";
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

std::string MapLinuxPath(const std::string& linuxPath) {
  std::string path = std::filesystem::path(linuxPath).lexically_normal().string();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const std::string& folder = TheMachine().folder;
  if (!folder.empty() && path.size() > folder.size() + 7 && path.compare(0, folder.size(), folder) == 0 &&
      path[folder.size()] == '/') {
    const std::string rest = path.substr(folder.size() + 1);  // "drive_c/pkg"
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(rest[6])));
    if (NamesEqual(rest.substr(0, 6), "drive_") && std::isalpha(static_cast<unsigned char>(letter)) &&
        letter != 'z' && (rest.size() == 7 || rest[7] == '/')) {
      std::string windowsPath{static_cast<char>(std::toupper(letter)), ':', '\\'};
      for (size_t i = 8; i < rest.size(); ++i) windowsPath += rest[i] == '/' ? '\\' : rest[i];
      return windowsPath;
    }
  }
  std::string windowsPath = "Z:";
  for (char c : path) windowsPath += c == '/' ? '\\' : c;
  return windowsPath;
}

DWORD MissingPathError(const MappedPath& mapped) {
  // A drive root that is missing is a drive the machine does not have.
  if (mapped.windowsPath.size() == 3) return ERROR_PATH_NOT_FOUND;
  return IsFolder(LinuxParent(mapped.linuxPath)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

std::string LinuxParent(const std::string& linuxPath) {
  const size_t slash = linuxPath.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return linuxPath.substr(0, slash);
}

}  // namespace sim
