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
  // The program names its folders below Program Files, names that Windows always takes.
  if (!sim::Locate(path, &target)) return FALSE;  // GCOVR_EXCL_BR_LINE
  if (target.kind != Kind::kMissing) return sim::FailWith(ERROR_ALREADY_EXISTS);
  // The program always gives its own descriptor, made by the machine, with Administrators as the owner.
  sim::Security given;
  sim::DecodeDescriptor(security->lpSecurityDescriptor, &given);
  // Program Files, or the vendor folder just made or checked, holds it: only the machine's own folder
  // failing under it (a full disk, permissions) refuses it, which reads as access denied.
  const bool made = ::mkdir(target.path.linuxPath.c_str(), 0777) == 0;
  if (!made) return sim::FailWith(ERROR_ACCESS_DENIED);  // GCOVR_EXCL_BR_LINE
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

// The program copies onto a name it has just deleted (failIfExists), or over its own self-copy.
BOOL WINAPI CopyFileA(LPCSTR existing, LPCSTR destination, BOOL failIfExists) {
  SIM_CALL(CopyFileA, existing, destination);
  // Windows opens the source first, so its failures come first.
  Target source;
  if (!sim::LocateExisting(existing, &source)) return FALSE;
  if (source.kind == Kind::kFolder) return sim::FailWith(ERROR_ACCESS_DENIED);
  // The destination bears the source's name in a folder that is there (the one the deletion looked
  // in, or the system folder): only a source refused above could make it a name Windows refuses.
  Target target;
  if (!sim::Locate(destination, &target)) return FALSE;  // GCOVR_EXCL_BR_LINE
  const DWORD sourceAttributes = sim::StoredAttributes(source.path.linuxPath);
  if (target.kind == Kind::kFolder) return sim::FailWith(ERROR_ACCESS_DENIED);
  // Only a program that skipped its deletion meets this; it must then fail as on Windows.
  // GCOVR_EXCL_BR_START
  if (failIfExists && target.kind != Kind::kMissing) return sim::FailWith(ERROR_FILE_EXISTS);
  // GCOVR_EXCL_BR_STOP
  // A read-only file is not replaced, nor a hidden or system one by content without the same bits.
  const DWORD guarded = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  const DWORD refused = FILE_ATTRIBUTE_READONLY | (guarded & ~sourceAttributes);
  if ((sim::StoredAttributes(target.path.linuxPath) & refused) != 0)
    return sim::FailWith(ERROR_ACCESS_DENIED);
  std::error_code error;
  std::filesystem::copy_file(source.path.linuxPath, target.path.linuxPath,
                             std::filesystem::copy_options::overwrite_existing, error);
  // A plain file onto a free name or another plain file: only the machine's own folder fails it.
  if (error) return sim::FailWith(ERROR_ACCESS_DENIED);  // GCOVR_EXCL_BR_LINE
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
  // A plain file that is there: only the machine's own folder failing under it keeps it.
  const bool deleted = ::unlink(target.path.linuxPath.c_str()) == 0;
  if (!deleted) return sim::FailWith(ERROR_ACCESS_DENIED);  // GCOVR_EXCL_BR_LINE
  sim::StoreAttributes(target.path.linuxPath, 0);
  sim::ForgetSecurity(target.path.linuxPath);
  return TRUE;
}
