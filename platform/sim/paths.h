// Windows paths on the simulated machine. Drive X: is the folder drive_x inside the
// machine folder, except Z:, which is the Linux root as in Wine. Names match without
// regard to case, as Windows file names do.
#pragma once

#include <string>

#include "platform/sim/win32_api.h"

namespace sim {

struct MappedPath {
  std::string windowsPath;  // full and normalised: "C:\pkg\net7341a.inf", "C:\"
  std::string linuxPath;    // existing components spelled as they are on disk
  bool trailingSeparator = false;
};

// The Linux file that `path` names, and the path's full Windows form: relative paths
// resolve against the current folder, '/' counts as '\', runs of separators collapse and
// "." and ".." are resolved. False with `*error` set when Windows would refuse the path
// itself (too long, bad characters, a form the machine does not have).
bool MapWindowsPath(const std::string& path, MappedPath* mapped, DWORD* error);

// The Windows name of a Linux path: "X:\..." inside the machine's drive_x folders,
// "Z:\..." anywhere else.
std::string MapLinuxPath(const std::string& linuxPath);

// The error Windows gives for a path that names nothing: ERROR_PATH_NOT_FOUND when a
// folder on the way (or the drive) is missing or is a file, else ERROR_FILE_NOT_FOUND.
DWORD MissingPathError(const MappedPath& mapped);

// The Linux folder that holds the file (path up to its last '/').
std::string LinuxParent(const std::string& linuxPath);

}  // namespace sim
