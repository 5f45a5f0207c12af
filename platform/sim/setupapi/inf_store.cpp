// SETUPAPI SetupCopyOEMInfA over the machine's INF store, C:\Windows\INF. Stored
// copies are named oem<N>.inf with the first free N, as Windows names them, each with
// an oem<N>.pnf beside it; an INF whose content is already stored keeps its name.
//
// Before anything is stored the source must open as an INF (ReadInfText) and the
// catalog that its [Version] section names must stand beside it. Wine looks for an
// identical stored copy first and checks nothing for one it finds; here, as the
// catalog is installed again on every call, the checks come first.
//
// The catalog that an INF names is installed with it, as oem<N>.cat in the catalog
// database folder, under the number of the stored INF; SetupUninstallOEMInfA removes
// the stored INF, its PNF and that catalog, as Windows documents. (Wine keeps the
// catalog's own name there, and its uninstall deletes the INF alone.)
//
// With SP_COPY_NOOVERWRITE an INF already stored fails the call with ERROR_FILE_EXISTS,
// and its stored name is handed back all the same, as Microsoft documents it.
//
// With SP_COPY_OEMINF_CATALOG_ONLY only the catalog is installed: the store gains
// nothing, and the stored name is handed back only when the INF is already there.
// Wine ignores that style and stores the INF at the first call; after the second call
// of an install, with style 0, both have stored it once.
#include <sys/stat.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "platform/sim/calls.h"
#include "platform/sim/file_attributes.h"
#include "platform/sim/machine.h"
#include "platform/sim/paths.h"

namespace sim {
namespace {

// How an INF opens, as Windows applies the rules and as Wine's conformance tests of
// SetupOpenInfFile record them:
// - An empty file cannot be opened at all: ERROR_FILE_INVALID.
// - Blank lines and lines that start with ';' are skipped. A line that starts with '['
//   names a section up to the next ']' (ERROR_BAD_SECTION_NAME_LINE without one,
//   ERROR_SECTION_NAME_TOO_LONG past 255 characters); sections of the same name merge.
// - Text before the first section is an error (ERROR_EXPECTED_SECTION_NAME), unless that
//   section is [Strings].
// - The Windows NT style needs [Version] with Signature "$Windows NT$", "$Chicago$" or
//   "$Windows 95$", without regard to case; else, and for a file with no section at
//   all, ERROR_WRONG_INF_STYLE. Wine differs for text without any section: it gives
//   ERROR_EXPECTED_SECTION_NAME (its tests mark that as its own fault).
constexpr size_t kMaxSectionName = 255;

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// The line without a comment: from a ';' outside quotes to the end.
std::string WithoutComment(const std::string& line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == ';' && !quoted) return line.substr(0, i);
  }
  return line;
}

// The first field of a value, trimmed, its quotes removed.
std::string FirstField(const std::string& value) {
  std::string field;
  bool quoted = false;
  for (char c : value) {
    if (c == '"') {
      quoted = !quoted;
      continue;
    }
    if (c == ',' && !quoted) break;
    field += c;
  }
  return Trim(field);
}

bool IsKnownSignature(const std::string& signature) {
  for (const char* known : {"$Windows NT$", "$Chicago$", "$Windows 95$"}) {
    if (NamesEqual(signature, known)) return true;
  }
  return false;
}

// What SetupCopyOEMInfA reads of an INF before it stores it: 0 when `text` opens as an INF
// of the Windows NT style, else the error that SetupOpenInfFile gives for it; and the
// first field of the CatalogFile line of [Version], without quotes (empty when none).
DWORD ReadInfText(const std::string& text, std::string* catalogFile) {
  catalogFile->clear();
  if (text.empty()) return ERROR_FILE_INVALID;
  std::istringstream lines(text);
  std::string line;
  std::string section;
  bool inSection = false;
  bool textBeforeSections = false;
  bool firstSectionSeen = false;
  bool hasSignature = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string content = Trim(line);
    if (content.empty() || content[0] == ';') continue;
    if (content[0] == '[') {
      const size_t close = content.find(']');
      if (close == std::string::npos) return ERROR_BAD_SECTION_NAME_LINE;
      section = content.substr(1, close - 1);
      if (section.size() > kMaxSectionName) return ERROR_SECTION_NAME_TOO_LONG;
      if (!firstSectionSeen && textBeforeSections && !NamesEqual(section, "Strings")) {
        return ERROR_EXPECTED_SECTION_NAME;
      }
      firstSectionSeen = true;
      inSection = true;
      continue;
    }
    if (!inSection) {
      textBeforeSections = true;
      continue;
    }
    if (!NamesEqual(section, "Version")) continue;
    const std::string entry = WithoutComment(content);
    const size_t equals = entry.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = Trim(entry.substr(0, equals));
    const std::string value = FirstField(entry.substr(equals + 1));
    if (NamesEqual(key, "Signature")) {
      hasSignature = hasSignature || IsKnownSignature(value);
    } else if (NamesEqual(key, "CatalogFile") && catalogFile->empty()) {
      *catalogFile = value;
    }
  }
  if (!hasSignature) return ERROR_WRONG_INF_STYLE;
  return 0;
}

constexpr const char* kStoreFolder = "C:\\Windows\\INF";
constexpr const char* kCatalogFolder =
    "C:\\Windows\\System32\\catroot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}";

// A new file of the store has no attributes.
bool WriteContent(const std::string& linuxPath, const std::string& content) {
  std::ofstream out(linuxPath, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  StoreAttributes(linuxPath, 0);
  return static_cast<bool>(out);
}

// N of a name "oem<N>.inf" in any case; -1 for any other name.
long StoredNumber(const std::string& name) {
  if (name.size() < 8 || !NamesEqual(name.substr(0, 3), "oem") ||
      !NamesEqual(name.substr(name.size() - 4), ".inf")) {
    return -1;
  }
  const std::string digits = name.substr(3, name.size() - 7);
  if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::stol(digits);
}

// The stored copies by number, each with its name on disk.
std::map<long, std::string> StoredInfs(const std::string& storeFolder) {
  std::map<long, std::string> stored;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(storeFolder, error)) {
    const std::string name = entry.path().filename().string();
    const long number = StoredNumber(name);
    if (number >= 0 && entry.is_regular_file(error)) stored.emplace(number, name);
  }
  return stored;
}

// Hands the path of the stored `name` to the caller the way Windows does: the size it
// needs, and the path when the buffer holds it. A buffer too small fails the call, yet what was
// stored stays stored.
BOOL ReportStoredPath(const std::string& name, PSTR destination, DWORD destinationSize, PDWORD requiredSize,
                      PSTR* fileNameComponent) {
  const std::string windowsPath = std::string(kStoreFolder) + "\\" + name;
  const DWORD needed = static_cast<DWORD>(windowsPath.size() + 1);
  if (requiredSize != nullptr) *requiredSize = needed;
  if (destinationSize < needed) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(destination, windowsPath.c_str(), needed);
  if (fileNameComponent != nullptr) *fileNameComponent = destination + windowsPath.rfind('\\') + 1;
  return TRUE;
}

// Maps a path that must name an existing file, failing the call as Windows fails an
// open of it: ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND for a missing folder on the
// way, ERROR_ACCESS_DENIED for a folder or a file that cannot be read.
bool ReadExisting(const std::string& windowsPath, MappedPath* mapped, std::string* content) {
  DWORD error = 0;
  if (!MapWindowsPath(windowsPath, mapped, &error)) return FailWith(error);
  struct stat info;
  if (::stat(mapped->linuxPath.c_str(), &info) != 0) return FailWith(MissingPathError(*mapped));
  return (!S_ISDIR(info.st_mode) && ReadWholeFile(mapped->linuxPath, content)) ||
         FailWith(ERROR_ACCESS_DENIED);
}

// A folder of the machine in Linux terms, created when missing.
bool MapFolder(const char* windowsFolder, std::string* linuxFolder) {
  MappedPath mapped;
  DWORD error = 0;
  if (!MapWindowsPath(windowsFolder, &mapped, &error)) return FailWith(error);
  std::error_code made;
  std::filesystem::create_directories(mapped.linuxPath, made);
  *linuxFolder = mapped.linuxPath;
  return true;
}

// Installs the catalog that stands beside the source INF (none when the INF names
// none) as the stored INF's oem<N>.cat.
bool InstallCatalog(const std::string& catalog, const std::string& content, long number) {
  std::string folder;
  return catalog.empty() || (MapFolder(kCatalogFolder, &folder) &&
                             WriteContent(folder + "/oem" + std::to_string(number) + ".cat", content));
}

// Removes a file of the machine unless it is read-only; a missing one is fine.
bool RemoveMachineFile(const std::string& windowsPath) {
  MappedPath mapped;
  DWORD error = 0;
  struct stat info;
  if (!MapWindowsPath(windowsPath, &mapped, &error) || ::stat(mapped.linuxPath.c_str(), &info) != 0)
    return true;
  if ((StoredAttributes(mapped.linuxPath) & FILE_ATTRIBUTE_READONLY) != 0) return false;
  std::error_code ignored;
  std::filesystem::remove(mapped.linuxPath, ignored);
  StoreAttributes(mapped.linuxPath, 0);
  return true;
}

// The name that a stored INF was installed from. The store keeps it in the PNF that it
// writes beside the copy (a "Source=" line); without one, Windows knows no other name
// than the file's own.
std::string OriginalInfName(const MappedPath& inf) {
  std::string ownName = inf.windowsPath.substr(inf.windowsPath.rfind('\\') + 1);
  const std::string& linux = inf.linuxPath;
  const size_t dot = linux.rfind('.');
  std::string pnf;
  if (dot == std::string::npos || !NamesEqual(linux.substr(dot), ".inf") ||
      !ReadWholeFile(linux.substr(0, dot) + ".pnf", &pnf)) {
    return ownName;
  }
  const size_t source = pnf.find("\nSource=");
  if (source == std::string::npos) return ownName;
  const std::string path = pnf.substr(source + 8, pnf.find('\n', source + 8) - source - 8);
  return path.substr(path.rfind('\\') + 1);
}

// Opens an INF by its full path for the information calls: its mapped path, and the
// catalog it names. False with the last error set when it cannot be read; anything that
// is not a Windows NT style INF opens as an older one (returned as `newStyle` false).
bool OpenInf(const char* path, MappedPath* inf, std::string* catalog, bool* newStyle) {
  std::string content;
  if (!ReadExisting(path, inf, &content)) return false;
  *newStyle = ReadInfText(content, catalog) == 0;
  return true;
}

}  // namespace
}  // namespace sim

BOOL WINAPI SetupCopyOEMInfA(PCSTR sourceInfFileName, PCSTR /*oemSourceMediaLocation*/,
                             DWORD /*oemSourceMediaType*/, DWORD copyStyle, PSTR destinationInfFileName,
                             DWORD destinationInfFileNameSize, PDWORD requiredSize,
                             PSTR* destinationInfFileNameComponent) {
  SIM_CALL(SetupCopyOEMInfA, sourceInfFileName, copyStyle);
  if (sourceInfFileName == nullptr) return sim::FailWith(ERROR_INVALID_PARAMETER);
  sim::MappedPath sourcePath;
  std::string content;
  if (!sim::ReadExisting(sourceInfFileName, &sourcePath, &content)) return FALSE;
  std::string catalog;
  if (const DWORD error = sim::ReadInfText(content, &catalog)) return sim::FailWith(error);
  sim::MappedPath catalogPath;
  const std::string& windowsSource = sourcePath.windowsPath;
  std::string catalogContent;
  if (!catalog.empty() && !sim::ReadExisting(windowsSource.substr(0, windowsSource.rfind('\\') + 1) + catalog,
                                             &catalogPath, &catalogContent))
    return FALSE;

  std::string storeFolder;
  if (!sim::MapFolder(sim::kStoreFolder, &storeFolder)) return FALSE;
  const std::map<long, std::string> stored = sim::StoredInfs(storeFolder);
  for (const auto& [number, name] : stored) {
    std::string storedContent;
    if (sim::ReadWholeFile(storeFolder + "/" + name, &storedContent) && storedContent == content) {
      if (!sim::InstallCatalog(catalog, catalogContent, number)) return sim::FailWith(ERROR_ACCESS_DENIED);
      const BOOL reported = sim::ReportStoredPath(name, destinationInfFileName, destinationInfFileNameSize,
                                                  requiredSize, destinationInfFileNameComponent);
      // As documented: the call fails, yet hands back the name of the copy that is there.
      if (reported && (copyStyle & SP_COPY_NOOVERWRITE) != 0) return sim::FailWith(ERROR_FILE_EXISTS);
      return reported;
    }
  }
  if ((copyStyle & SP_COPY_OEMINF_CATALOG_ONLY) != 0) return TRUE;

  long number = 0;
  while (stored.count(number) != 0) ++number;
  const std::string base = "oem" + std::to_string(number);
  const std::string infFile = storeFolder + "/" + base + ".inf";
  const std::string pnfFile = storeFolder + "/" + base + ".pnf";
  if (!sim::WriteContent(infFile, content) ||
      !sim::WriteContent(pnfFile, "PNF\nSource=" + sourcePath.windowsPath + "\n") ||
      !sim::InstallCatalog(catalog, catalogContent, number)) {
    std::error_code ignored;
    std::filesystem::remove(infFile, ignored);
    std::filesystem::remove(pnfFile, ignored);
    return sim::FailWith(ERROR_ACCESS_DENIED);
  }
  return sim::ReportStoredPath(base + ".inf", destinationInfFileName, destinationInfFileNameSize,
                               requiredSize, destinationInfFileNameComponent);
}

BOOL WINAPI SetupUninstallOEMInfA(PCSTR infFileName, DWORD flags, LPVOID /*reserved*/) {
  SIM_CALL(SetupUninstallOEMInfA, infFileName, flags);
  if (infFileName == nullptr) return sim::FailWith(ERROR_INVALID_PARAMETER);
  // A name in the store, never a path.
  if (std::strpbrk(infFileName, "\\/:") != nullptr) return sim::FailWith(ERROR_PATH_NOT_FOUND);
  const long number = sim::StoredNumber(infFileName);
  std::string storeFolder;
  if (!sim::MapFolder(sim::kStoreFolder, &storeFolder)) return FALSE;
  const std::map<long, std::string> stored = sim::StoredInfs(storeFolder);
  const auto found = stored.find(number);
  if (number < 0 || found == stored.end()) return sim::FailWith(ERROR_FILE_NOT_FOUND);
  // No device on this machine is ever installed from a stored INF, so the copy is never
  // in use and the force flag changes nothing. Like a deletion, a read-only file stops it.
  const std::string infPath = std::string(sim::kStoreFolder) + "\\" + found->second;
  const std::string pnfPath = infPath.substr(0, infPath.size() - 4) + ".pnf";
  const std::string catalogPath =
      std::string(sim::kCatalogFolder) + "\\oem" + std::to_string(number) + ".cat";
  for (const std::string& path : {infPath, pnfPath, catalogPath}) {
    if (!sim::RemoveMachineFile(path)) return sim::FailWith(ERROR_ACCESS_DENIED);
  }
  return TRUE;
}

// Only a full path is simulated (INFINFO_INF_NAME_IS_ABSOLUTE). The version data that
// Windows returns is opaque to callers: here it holds the INF's full path.
BOOL WINAPI SetupGetInfInformationA(const void* infSpec, DWORD searchControl,
                                    PSP_INF_INFORMATION returnBuffer, DWORD returnBufferSize,
                                    PDWORD requiredSize) {
  const char* path = static_cast<const char*>(infSpec);
  SIM_CALL(SetupGetInfInformationA, path);
  if (path == nullptr || searchControl != INFINFO_INF_NAME_IS_ABSOLUTE)
    return sim::FailWith(ERROR_INVALID_PARAMETER);
  sim::MappedPath inf;
  std::string catalog;
  bool newStyle = false;
  if (!sim::OpenInf(path, &inf, &catalog, &newStyle)) return FALSE;
  const DWORD needed =
      static_cast<DWORD>(offsetof(SP_INF_INFORMATION, VersionData) + inf.windowsPath.size() + 1);
  if (requiredSize != nullptr) *requiredSize = needed;
  if (returnBufferSize < needed) return sim::FailWith(ERROR_INSUFFICIENT_BUFFER);
  returnBuffer->InfStyle = newStyle ? INF_STYLE_WIN4 : INF_STYLE_OLDNT;
  returnBuffer->InfCount = 1;
  std::memcpy(returnBuffer->VersionData, inf.windowsPath.c_str(), inf.windowsPath.size() + 1);
  return TRUE;
}

BOOL WINAPI SetupQueryInfOriginalFileInformationA(PSP_INF_INFORMATION infInformation, UINT infIndex,
                                                  PSP_ALTPLATFORM_INFO /*alternatePlatformInfo*/,
                                                  PSP_ORIGINAL_FILE_INFO_A originalFileInfo) {
  const char* path =
      infInformation != nullptr ? reinterpret_cast<const char*>(infInformation->VersionData) : "";
  SIM_CALL(SetupQueryInfOriginalFileInformationA, path);
  if (infInformation == nullptr || originalFileInfo == nullptr || infIndex >= infInformation->InfCount)
    return sim::FailWith(ERROR_INVALID_PARAMETER);
  if (originalFileInfo->cbSize != sizeof(SP_ORIGINAL_FILE_INFO_A))
    return sim::FailWith(ERROR_INVALID_USER_BUFFER);
  sim::MappedPath inf;
  std::string catalog;
  bool newStyle = false;
  if (!sim::OpenInf(path, &inf, &catalog, &newStyle)) return FALSE;
  const std::string original = sim::OriginalInfName(inf);
  if (original.size() >= MAX_PATH || catalog.size() >= MAX_PATH) return sim::FailWith(ERROR_INVALID_DATA);
  std::memcpy(originalFileInfo->OriginalInfName, original.c_str(), original.size() + 1);
  std::memcpy(originalFileInfo->OriginalCatalogName, catalog.c_str(), catalog.size() + 1);
  return TRUE;
}
