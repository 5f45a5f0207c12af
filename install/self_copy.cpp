#include "install/self_copy.h"

#include "app/error_lines.h"
#include "install/stage_package.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

// <install folder>\<product>.exe, where the staging puts the program's image and the
// self-copy takes it from; false when there is no install folder or the path does not fit.
bool ComposeStagedImagePath(RunState& state, char (&path)[MAX_PATH]) {
  return state.InstallFolder[0] != '\0' && TextJoin(state.ExecutableName, state.ProductName, ".exe") &&
         TextJoin(path, state.InstallFolder, state.ExecutableName);
}

}  // namespace

void StageOwnImage(RunState& state) {
  char destination[MAX_PATH];
  if (!ComposeStagedImagePath(state, destination)) return;
  char image[MAX_PATH];
  // A path that fills the buffer came back cut short (and, before Vista, without a NUL).
  const DWORD length = GetModuleFileNameA(nullptr, image, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  CopyAsNewFile(image, destination);
}

void CopySelfToSystemFolder(RunState& state) {
  const UINT length = GetSystemDirectoryA(state.SystemFolder, kTextCapacity);
  // Without the system folder the destination would be relative to the current drive.
  if (length == 0 || length >= kTextCapacity) return;
  if (!TextJoin(state.ExecutableName, state.ProductName, ".exe")) return;
  char destination[MAX_PATH];
  if (!JoinPath(destination, state.SystemFolder, state.ExecutableName)) return;

  if (!SetFileAttributesA(destination, FILE_ATTRIBUTE_NORMAL)) {
    ReportSetFileAttributesError(GetLastError());
  }
  // The source is the image that the staging copied: the package folder may be out of
  // reach by now, and a name relative to the current folder could be another program.
  char source[MAX_PATH];
  if (!ComposeStagedImagePath(state, source)) return;
  if (!CopyFileA(source, destination, FALSE)) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) {
      ReportCopyFileError(error);
    }
  }
}
