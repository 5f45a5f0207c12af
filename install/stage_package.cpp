#include "install/stage_package.h"

#include "install/self_copy.h"
#include "package/folder_security.h"
#include "package/install_folder.h"
#include "package/package_files.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

// Makes <Program Files>\Orvix\<product>\ the program's own (PrepareInstallFolder) and leaves
// its path, with the trailing backslash, in state.InstallFolder; empty when the path cannot be
// composed or a folder is refused, so that nothing is staged and no INF is taken from there.
void CreateInstallFolder(RunState& state) {
  state.InstallFolder[0] = '\0';
  // No call can create or name a folder whose path does not fit MAX_PATH.
  char vendorFolder[MAX_PATH];
  char productFolder[MAX_PATH];
  if (!ComposeVendorFolder(vendorFolder) || !JoinPath(productFolder, vendorFolder, state.ProductName)) return;
  if (!PrepareInstallFolder(vendorFolder, productFolder) || !TextAppend(productFolder, "\\")) return;
  TextCopy(state.InstallFolder, productFolder);
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
  char source[MAX_PATH];
  if (!TextJoin(destination, installFolder, fileName) || !TextJoin(source, sourcePrefix, fileName)) return;
  CopyAsNewFile(source, destination);
}

void CopyAsNewFile(const char* source, const char* destination) {
  // Started from the install folder, the package there is the one to stage, and deleting it
  // would lose it.
  if (TextEqualsIgnoringAsciiCase(source, destination)) return;
  // Read-only, hidden or system would stop the deletion.
  SetFileAttributesA(destination, FILE_ATTRIBUTE_NORMAL);
  if (!DeleteFileA(destination) && GetLastError() != ERROR_FILE_NOT_FOUND) return;
  CopyFileA(source, destination, TRUE);
}
