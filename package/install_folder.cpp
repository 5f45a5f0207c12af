#include "package/install_folder.h"

#include "package/folder_security.h"

void ReadProgramFilesFolder(char (&folder)[MAX_PATH]) {
  const DWORD length = GetEnvironmentVariableA(kProgramFilesVariable, folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) TextCopy(folder, kDefaultProgramFiles);
}

bool InstallFolderHolds(const RunState& state, const char* name) {
  char vendorFolder[MAX_PATH];
  char productFolder[MAX_PATH];
  char path[MAX_PATH];
  if (!ComposeVendorFolder(vendorFolder) || !JoinPath(productFolder, vendorFolder, state.ProductName) ||
      !JoinPath(path, productFolder, name)) {
    return false;
  }
  // What another account could have put there is not ours.
  if (!FolderIsTrusted(vendorFolder) || !FolderIsTrusted(productFolder)) return false;
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}
