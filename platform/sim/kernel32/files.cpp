// KERNEL32 on the machine's files: folders, attributes, copying and deletion, failing with
// the codes Windows gives.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/sim/calls.h"
#include "platform/sim/file_attributes.h"
#include "platform/sim/folder_security.h"
#include "platform/sim/machine.h"
#include "platform/sim/paths.h"

namespace sim {

namespace {

enum class Kind { kMissing, kFile, kFolder };

struct Target {
  MappedPath path;
  Kind kind = Kind::kMissing;
  struct stat info {};
};

// Maps the path and looks at what is there; false with the last error set when the
// path itself is refused.
bool Locate(LPCSTR path, Target* target) {
  if (path == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  DWORD error = 0;
  if (!MapWindowsPath(path, &target->path, &error)) return FailWith(error);
  const bool exists = ::stat(target->path.linuxPath.c_str(), &target->info) == 0;
  target->kind = !exists ? Kind::kMissing : S_ISDIR(target->info.st_mode) ? Kind::kFolder : Kind::kFile;
  return true;
}

// Locate, and the path must name something. A file named with a trailing separator
// is a name Windows refuses.
bool LocateExisting(LPCSTR path, Target* target) {
  if (!Locate(path, target)) return false;
  if (target->kind == Kind::kMissing) return FailWith(MissingPathError(target->path));
  if (target->kind == Kind::kFile && target->path.trailingSeparator) return FailWith(ERROR_INVALID_NAME);
  return true;
}

}  // namespace
}  // namespace sim

using sim::Kind;
using sim::Target;

BOOL WINAPI CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security) {
  SIM_CALL(CreateDirectoryA, path);
  Target target;
  if (!sim::Locate(path, &target)) return FALSE;
  if (target.kind != Kind::kMissing) return sim::FailWith(ERROR_ALREADY_EXISTS);
  // The program always gives a descriptor; without an owner it gets an elevated administrator's default.
  sim::Security given;
  if (security == nullptr) return sim::FailWith(ERROR_INVALID_PARAMETER);
  if (!sim::DecodeDescriptor(security->lpSecurityDescriptor, &given))
    return sim::FailWith(ERROR_INVALID_SECURITY_DESCR);
  if (given.owner.empty()) given.owner = sim::kAdministrators;
  if (!sim::MayOwn(given.owner)) return sim::FailWith(ERROR_INVALID_OWNER);
  // Only one level is created: the folder that holds it must be there.
  if (sim::MissingPathError(target.path) == ERROR_PATH_NOT_FOUND) return sim::FailWith(ERROR_PATH_NOT_FOUND);
  // The machine's own folder failing under it (a full disk, permissions) reads as access denied.
  if (::mkdir(target.path.linuxPath.c_str(), 0777) != 0) return sim::FailWith(ERROR_ACCESS_DENIED);
  sim::StoreAttributes(target.path.linuxPath, 0);
  sim::StoreSecurity(target.path.linuxPath, given);
  return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR path) {
  SIM_CALL(GetFileAttributesA, path);
  Target target;
  if (!sim::LocateExisting(path, &target)) return INVALID_FILE_ATTRIBUTES;
  // Like Wine, every plain file reports the archive bit.
  const DWORD kind = target.kind == Kind::kFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  const DWORD link = sim::IsFolderLink(target.path.linuxPath) ? FILE_ATTRIBUTE_REPARSE_POINT : 0;
  return kind | link | sim::StoredAttributes(target.path.linuxPath);
}

BOOL WINAPI SetFileAttributesA(LPCSTR path, DWORD attributes) {
  SIM_CALL(SetFileAttributesA, path);
  Target target;
  if (!sim::LocateExisting(path, &target)) return FALSE;
  sim::StoreAttributes(target.path.linuxPath, attributes);
  return TRUE;
}

BOOL WINAPI CopyFileA(LPCSTR existing, LPCSTR destination, BOOL failIfExists) {
  SIM_CALL(CopyFileA, existing, destination);
  // Windows opens the source first, so its failures come first.
  Target source;
  if (!sim::LocateExisting(existing, &source)) return FALSE;
  if (source.kind == Kind::kFolder) return sim::FailWith(ERROR_ACCESS_DENIED);
  Target target;
  if (!sim::Locate(destination, &target)) return FALSE;
  const DWORD sourceAttributes = sim::StoredAttributes(source.path.linuxPath);
  if (target.kind == Kind::kMissing) {
    if (sim::MissingPathError(target.path) == ERROR_PATH_NOT_FOUND)
      return sim::FailWith(ERROR_PATH_NOT_FOUND);
    if (target.path.trailingSeparator) return sim::FailWith(ERROR_INVALID_NAME);
  } else {
    if (failIfExists) return sim::FailWith(ERROR_FILE_EXISTS);
    if (target.kind == Kind::kFolder) return sim::FailWith(ERROR_ACCESS_DENIED);
    if (target.path.trailingSeparator) return sim::FailWith(ERROR_INVALID_NAME);
    // The source is open without write sharing while the destination is replaced.
    if (target.info.st_dev == source.info.st_dev && target.info.st_ino == source.info.st_ino) {
      return sim::FailWith(ERROR_SHARING_VIOLATION);
    }
    const DWORD targetAttributes = sim::StoredAttributes(target.path.linuxPath);
    if ((targetAttributes & FILE_ATTRIBUTE_READONLY) != 0) return sim::FailWith(ERROR_ACCESS_DENIED);
    // Replacing a hidden or system file needs the same bits on the new content.
    const DWORD guarded = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if ((targetAttributes & guarded & ~sourceAttributes) != 0) return sim::FailWith(ERROR_ACCESS_DENIED);
  }
  std::error_code error;
  std::filesystem::copy_file(source.path.linuxPath, target.path.linuxPath,
                             std::filesystem::copy_options::overwrite_existing, error);
  if (error) return sim::FailWith(ERROR_ACCESS_DENIED);
  sim::StoreAttributes(target.path.linuxPath, sourceAttributes);
  // A new file takes the folder's inheritable entries; one copied over keeps its own.
  if (target.kind == Kind::kMissing) sim::InheritSecurity(target.path.linuxPath);
  return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR path) {
  SIM_CALL(DeleteFileA, path);
  Target target;
  if (!sim::LocateExisting(path, &target)) return FALSE;
  if (target.kind == Kind::kFolder) return sim::FailWith(ERROR_ACCESS_DENIED);
  if ((sim::StoredAttributes(target.path.linuxPath) & FILE_ATTRIBUTE_READONLY) != 0) {
    return sim::FailWith(ERROR_ACCESS_DENIED);
  }
  if (::unlink(target.path.linuxPath.c_str()) != 0) return sim::FailWith(ERROR_ACCESS_DENIED);
  sim::StoreAttributes(target.path.linuxPath, 0);
  sim::ForgetSecurity(target.path.linuxPath);
  return TRUE;
}
