#include "install/install_folder.h"

void ReadProgramFilesFolder(char (&folder)[MAX_PATH]) {
  const DWORD length = GetEnvironmentVariableA(kProgramFilesVariable, folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) TextCopy(folder, kDefaultProgramFiles);
}
