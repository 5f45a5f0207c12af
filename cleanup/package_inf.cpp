#include "cleanup/package_inf.h"

#include "package/install_folder.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

// The version data of an INF is a few hundred bytes; one that does not fit here is no
// INF of this package.
constexpr DWORD kInfInformationCapacity = 4096;

// The name that the system keeps for the INF it stored under another name; empty when the
// system cannot tell, so that no path reads a name that was never written.
void ReadOriginalInfName(const char* storedInfPath, char (&name)[MAX_PATH]) {
  name[0] = '\0';
  alignas(SP_INF_INFORMATION) BYTE buffer[kInfInformationCapacity];
  auto* information = reinterpret_cast<SP_INF_INFORMATION*>(buffer);
  if (!SetupGetInfInformationA(storedInfPath, INFINFO_INF_NAME_IS_ABSOLUTE, information, sizeof buffer,
                               nullptr)) {
    return;
  }
  SP_ORIGINAL_FILE_INFO_A original{};
  original.cbSize = sizeof original;
  if (SetupQueryInfOriginalFileInformationA(information, 0, nullptr, &original))
    TextCopyPrefix(name, MAX_PATH, original.OriginalInfName, MAX_PATH);
}

const char* FileNameOf(const char* path) {
  const char* name = path;
  for (const char* at = path; *at != '\0'; ++at) {
    if (*at == '\\' || *at == '/') name = at + 1;
  }
  return name;
}

}  // namespace

bool IsPackageStoredInf(const RunState& state, const char* storedInfPath) {
  char original[MAX_PATH];
  ReadOriginalInfName(storedInfPath, original);
  const char* name = FileNameOf(original);
  if (*name == '\0' || !StaysWithinFolder(name)) return false;
  for (const char* packageInf : kDefaultInfs) {
    if (TextEqualsIgnoringAsciiCase(name, packageInf)) return true;
  }
  return InstallFolderHolds(state, name);
}
