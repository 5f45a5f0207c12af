#include "cleanup/delete_inf_and_pnf.h"

#include <cstring>

#include "app/error_lines.h"
#include "cleanup/package_inf.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "records/records.h"

namespace {

// The system's INF folder, <Windows folder>\INF; false when it cannot be read whole.
bool ReadInfStoreFolder(char (&infStore)[MAX_PATH]) {
  char windows[MAX_PATH];
  const UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
  return length != 0 && length < MAX_PATH && JoinPath(infStore, windows, "INF");
}

void ClearAttributes(const char* path) {
  if (!SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL)) {
    const DWORD error = GetLastError();
    // A file that is already gone is what a clean-up expects.
    if (error != ERROR_FILE_NOT_FOUND) ReportSetFileAttributesError(error);
  }
}

// Only the extension turns into ".pnf": a ".inf" elsewhere in the path, in a folder
// name, would name a file that does not belong to this INF. Empty when there is no such PNF.
void ComposePnfPath(const char* infPath, char (&pnfPath)[kTextCapacity]) {
  constexpr const char kInfExtension[] = ".inf";
  constexpr size_t kExtensionLength = sizeof kInfExtension - 1;
  pnfPath[0] = '\0';
  if (!TextEndsWith(infPath, kInfExtension) || !TextCopy(pnfPath, infPath)) return;
  std::memcpy(pnfPath + std::strlen(pnfPath) - kExtensionLength, ".pnf", kExtensionLength);
}

// A stored copy lies directly in the INF folder, under the name the system gave it; nullptr
// for any other path. The name points into `infPath`.
const char* StoredNameOf(const char* infPath) {
  char infStore[MAX_PATH];
  if (!ReadInfStoreFolder(infStore)) return nullptr;
  const char* storedName = PathWithinFolder(infPath, infStore);
  return storedName == nullptr || std::strpbrk(storedName, "\\/") != nullptr ? nullptr : storedName;
}

void RemoveFromStore(const char* infPath, const char* storedName) {
  char pnfPath[kTextCapacity];
  ComposePnfPath(infPath, pnfPath);
  const bool hasPnf = pnfPath[0] != '\0';
  // A read-only INF or PNF would stop the system's uninstall as well as the deletions.
  ClearAttributes(infPath);
  if (hasPnf) ClearAttributes(pnfPath);
  // The system takes a name in its INF folder, never a path. Its result does not
  // matter: the deletions below find nothing where it removed the files.
  SetupUninstallOEMInfA(storedName, SUOI_FORCEDELETE, nullptr);
  DeleteFileA(infPath);
  if (hasPnf) DeleteFileA(pnfPath);
}

}  // namespace

void DeleteInfAndPnf(const RunState& state, const char* infPath) {
  const char* storedName = StoredNameOf(infPath);
  if (storedName != nullptr && IsPackageStoredInf(state, infPath)) RemoveFromStore(infPath, storedName);
}

void RemoveStoredInf(const char* infPath) {
  const char* storedName = StoredNameOf(infPath);
  if (storedName != nullptr) RemoveFromStore(infPath, storedName);
}
