#include "install/stage_package.h"

#include "package/install_folder.h"
#include "package/package_files.h"
#include "install/self_copy.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

// Creates <Program Files>\Orvix\<product>\ level by level and leaves its path, with
// the trailing backslash, in state.InstallFolder (empty when it cannot be composed).
// An existing folder is fine; one that cannot be created makes the copies fail.
void CreateInstallFolder(RunState& state) {
  state.InstallFolder[0] = '\0';
  char folder[kTextCapacity];
  if (!ComposeVendorFolder(folder)) return;
  CreateDirectoryA(folder, nullptr);
  if (!JoinPath(folder, folder, state.ProductName)) return;
  CreateDirectoryA(folder, nullptr);
  if (!TextAppend(folder, "\\")) return;
  TextCopy(state.InstallFolder, folder);
}

// The package is staged from the current folder. One that does not fit MAX_PATH
// cannot be read, and staging from an empty source folder would copy from the root
// of the drive instead.
bool ReadSourceFolder(RunState& state) {
  const DWORD length = GetCurrentDirectoryA(MAX_PATH, state.SourceFolder);
  if (length == 0 || length >= MAX_PATH) {
    state.SourceFolder[0] = '\0';
    return false;
  }
  return true;
}

}  // namespace

bool StagePackage(RunState& state) {
  if (!ReadSourceFolder(state)) return false;
  StagePackageFiles(state);
  if (state.RecordMode) StageOwnImage(state);
  return true;
}

void StagePackageFiles(RunState& state) {
  CreateInstallFolder(state);
  if (state.InstallFolder[0] == '\0') return;

  char sourcePrefix[kTextCapacity];
  if (!JoinPath(sourcePrefix, state.SourceFolder, "")) return;

  // The INF argument goes first; outside the single-INF mode it is empty, names the
  // install folder itself and copies nothing.
  CopyPackageFile(state.InstallFolder, sourcePrefix, state.InfArgument);
  for (const char* fileName : kPackageFiles) CopyPackageFile(state.InstallFolder, sourcePrefix, fileName);
}

void CopyPackageFile(const char* installFolder, const char* sourcePrefix, const char* fileName) {
  if (!StaysWithinFolder(fileName)) return;
  char destination[MAX_PATH];
  if (!TextJoin(destination, installFolder, fileName)) return;
  // Read-only, hidden or system would make the copy fail. The copy replaces a file
  // staged before, so that the install folder holds the package that the run was
  // started from, never the older files of an earlier install or files planted there.
  SetFileAttributesA(destination, FILE_ATTRIBUTE_NORMAL);

  char source[MAX_PATH];
  if (!TextJoin(source, sourcePrefix, fileName)) return;
  CopyFileA(source, destination, FALSE);
}
