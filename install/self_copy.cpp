#include "install/self_copy.h"

#include <cstdio>

#include "platform/platform.h"
#include "platform/text.h"

void CopySelfToSystemFolder(RunState& state) {
  const UINT length = GetSystemDirectoryA(state.SystemFolder, kTextCapacity);
  // Without the system folder the destination would be relative to the current drive.
  if (length == 0 || length >= kTextCapacity) return;
  if (!TextJoin(state.ExecutableName, state.ProductName, ".exe")) return;
  char destination[MAX_PATH];
  if (!JoinPath(destination, state.SystemFolder, state.ExecutableName)) return;

  if (!SetFileAttributesA(destination, FILE_ATTRIBUTE_NORMAL)) {
    std::printf("SetFileAttributes error, error value = %x", static_cast<unsigned>(GetLastError()));
  }
  // The source is the executable's name relative to the current folder, the package
  // folder, whatever the path of the running program.
  if (!CopyFileA(state.ExecutableName, destination, FALSE)) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) {
      std::printf("CopyFile error, error value = %x", static_cast<unsigned>(error));
    }
  }
}
