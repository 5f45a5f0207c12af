#include "package/install_folder.h"

void ReadProgramFilesFolder(char (&folder)[MAX_PATH]) {
  const DWORD length = GetEnvironmentVariableA(kProgramFilesVariable, folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) TextCopy(folder, kDefaultProgramFiles);
}

bool InstallFolderHolds(const RunState& state, const char* name) {
  char path[MAX_PATH];
  if (!ComposeVendorFolder(path) || !JoinPath(path, path, state.ProductName) || !JoinPath(path, path, name)) {
    return false;
  }
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

