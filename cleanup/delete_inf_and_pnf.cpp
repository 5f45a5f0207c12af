#include "cleanup/delete_inf_and_pnf.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/text.h"
#include "records/records.h"

namespace {

void ClearAttributesAndDelete(const char* path) {
  if (!SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL)) {
    const DWORD error = GetLastError();
    // A file that is already gone is what a clean-up expects.
    if (error != ERROR_FILE_NOT_FOUND) {
      std::printf("SetFileAttributes error, error value = %x", static_cast<unsigned>(error));
    }
  }
  DeleteFileA(path);
}

}  // namespace

void DeleteInfAndPnf(const char* infPath) {
  ClearAttributesAndDelete(infPath);

  // Only the extension turns into ".pnf": a ".inf" elsewhere in the path, in a folder
  // name, would name a file that does not belong to this INF.
  constexpr const char kInfExtension[] = ".inf";
  constexpr size_t kExtensionLength = sizeof kInfExtension - 1;
  char pnfPath[kTextCapacity];
  if (!TextEndsWith(infPath, kInfExtension) || !TextCopy(pnfPath, infPath)) return;
  std::memcpy(pnfPath + std::strlen(pnfPath) - kExtensionLength, ".pnf", kExtensionLength);
  ClearAttributesAndDelete(pnfPath);
}
