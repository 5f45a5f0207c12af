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

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
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
//   names a section up to the next ']' (ERROR_BAD_SECTION_NAME_LINE without one);
//   sections of the same name merge.
// - Text before the first section is an error (ERROR_EXPECTED_SECTION_NAME).
// - The Windows NT style needs [Version] with Signature "$Windows NT$", "$Chicago$" or
//   "$Windows 95$", without regard to case; else, and for a file with no section at
//   all, ERROR_WRONG_INF_STYLE. Wine differs for text without any section: it gives
//   ERROR_EXPECTED_SECTION_NAME (its tests mark that as its own fault).
// Only Signature and CatalogFile are read, and neither holds a ';' or a ',' in quotes, nor
// comes twice: the first ';' starts a comment, the first ',' ends the field, and the last
// CatalogFile line counts. No INF that the installer meets names a section of more than
// 255 characters, which Windows refuses, or puts text before a first section [Strings],
// which Windows accepts.

// Without blanks at either end; a CR-LF line ends in a blank too.
std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::string();
  const size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// The first field of a value, trimmed, its quotes removed.
std::string FirstField(const std::string& value) {
  std::string field = value.substr(0, value.find(','));
  field.erase(std::remove(field.begin(), field.end(), '"'), field.end());
  return Trim(field);
}

bool IsKnownSignature(const std::string& signature) {
  const char* const known[] = {"$Windows NT$", "$Chicago$", "$Windows 95$"};
  return std::any_of(std::begin(known), std::end(known),
                     [&](const char* name) { return NamesEqual(signature, name); });
}

// What SetupCopyOEMInfA reads of an INF before it stores it: 0 when `text` opens as an INF
// of the Windows NT style, else the error that SetupOpenInfFile gives for it; and the
// first field of the last CatalogFile line of [Version], without quotes (empty when none).
DWORD ReadInfText(const std::string& text, std::string* catalogFile) {
  catalogFile->clear();
  if (text.empty()) return ERROR_FILE_INVALID;
  std::istringstream lines(text);
  std::string line;
  std::string section;
  bool inSection = false;
  bool textBeforeSections = false;
  bool hasSignature = false;
  while (std::getline(lines, line)) {
    const std::string content = Trim(line);
    if (content.empty() || content[0] == ';') continue;
    if (content[0] == '[') {
      const size_t close = content.find(']');
      if (close == std::string::npos) return ERROR_BAD_SECTION_NAME_LINE;
      if (textBeforeSections) return ERROR_EXPECTED_SECTION_NAME;
      section = content.substr(1, close - 1);
      inSection = true;
      continue;
    }
    if (!inSection) {
      textBeforeSections = true;
      continue;
    }
    if (!NamesEqual(section, "Version")) continue;
    const std::string entry = content.substr(0, content.find(';'));
    const size_t equals = entry.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = Trim(entry.substr(0, equals));
    const std::string value = FirstField(entry.substr(equals + 1));
    if (NamesEqual(key, "Signature")) hasSignature |= IsKnownSignature(value);
    if (NamesEqual(key, "CatalogFile")) *catalogFile = value;
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
  static const std::regex stored("oem([0-9]{1,9})\\.inf", std::regex::icase);
  std::smatch number;
  if (!std::regex_match(name, number, stored)) return -1;
  return std::stol(number.str(1));
}

// The stored copies by number, each with its name on disk. Only the store makes such names
// there, and only for files.
std::map<long, std::string> StoredInfs(const std::string& storeFolder) {
  std::map<long, std::string> stored;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(storeFolder, error)) {
    const std::string name = entry.path().filename().string();
    const long number = StoredNumber(name);
    if (number >= 0) stored.emplace(number, name);
  }
  return stored;
}

// Hands the path of the stored `name` to the caller, whose MAX_PATH buffer holds any path of
// the store; it asks for neither the size nor the name's place.
BOOL ReportStoredPath(const std::string& name, PSTR destination) {
  const std::string windowsPath = std::string(kStoreFolder) + "\\" + name;
  std::memcpy(destination, windowsPath.c_str(), windowsPath.size() + 1);
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
  if (S_ISDIR(info.st_mode)) return FailWith(ERROR_ACCESS_DENIED);
  // Every file of the machine is the process's own; only a failing host refuses to read one.
  return ReadWholeFile(mapped->linuxPath, content) || FailWith(ERROR_ACCESS_DENIED);  // GCOVR_EXCL_BR_LINE
}

// A folder of the machine in Linux terms, created when missing: one of the machine's own,
// whose path always maps.
std::string MapFolder(const char* windowsFolder) {
  MappedPath mapped;
  DWORD error = 0;
  MapWindowsPath(windowsFolder, &mapped, &error);
  std::error_code made;
  std::filesystem::create_directories(mapped.linuxPath, made);
  return mapped.linuxPath;
}

// Installs the catalog that stands beside the source INF (none when the INF names
// none) as the stored INF's oem<N>.cat.
bool InstallCatalog(const std::string& catalog, const std::string& content, long number) {
  if (catalog.empty()) return true;
  return WriteContent(MapFolder(kCatalogFolder) + "/oem" + std::to_string(number) + ".cat", content);
}

// Removes a file of the store unless it is read-only; a missing one is fine. The store's
// paths always map.
bool RemoveMachineFile(const std::string& windowsPath) {
  MappedPath mapped;
  DWORD error = 0;
  struct stat info;
  MapWindowsPath(windowsPath, &mapped, &error);
  if (::stat(mapped.linuxPath.c_str(), &info) != 0) return true;
  if ((StoredAttributes(mapped.linuxPath) & FILE_ATTRIBUTE_READONLY) != 0) return false;
  std::error_code ignored;
  std::filesystem::remove(mapped.linuxPath, ignored);
  StoreAttributes(mapped.linuxPath, 0);
  return true;
}

// The name that a stored INF was installed from. The store keeps it in the PNF that it
// writes beside a copy that it names oem<N>.inf (a "Source=" line); without one, Windows
// knows no other name than the file's own, the record's first line here.
std::string OriginalInfName(const MappedPath& inf) {
  const std::string ownName = inf.windowsPath.substr(inf.windowsPath.rfind('\\') + 1);
  const std::string pnfPath = std::filesystem::path(inf.linuxPath).replace_extension(".pnf");
  std::string record = "\nSource=" + inf.windowsPath + "\n";
  std::string pnf;
  if (StoredNumber(ownName) >= 0) ReadWholeFile(pnfPath, &pnf);
  record += pnf;
  const size_t source = record.rfind("\nSource=") + 8;
  const std::string path = record.substr(source, record.find('\n', source) - source);
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

// The installer always names its source by a full path and hands a MAX_PATH buffer for the
// stored path, asking for neither its size nor the name's place in it.
BOOL WINAPI SetupCopyOEMInfA(PCSTR sourceInfFileName, PCSTR /*oemSourceMediaLocation*/,
                             DWORD /*oemSourceMediaType*/, DWORD copyStyle, PSTR destinationInfFileName,
                             DWORD /*destinationInfFileNameSize*/, PDWORD /*requiredSize*/,
                             PSTR* /*destinationInfFileNameComponent*/) {
  SIM_CALL(SetupCopyOEMInfA, sourceInfFileName, copyStyle);
  sim::MappedPath sourcePath;
  std::string content;
  if (!sim::ReadExisting(sourceInfFileName, &sourcePath, &content)) return FALSE;
  std::string catalog;
  if (const DWORD error = sim::ReadInfText(content, &catalog)) return sim::FailWith(error);
  const std::string& windowsSource = sourcePath.windowsPath;
  const std::string besideSource = windowsSource.substr(0, windowsSource.rfind('\\') + 1) + catalog;
  sim::MappedPath catalogPath;
  std::string catalogContent;
  if (!catalog.empty() && !sim::ReadExisting(besideSource, &catalogPath, &catalogContent)) return FALSE;

  const std::string storeFolder = sim::MapFolder(sim::kStoreFolder);
  const std::map<long, std::string> stored = sim::StoredInfs(storeFolder);
  for (const auto& [number, name] : stored) {
    std::string storedContent;
    sim::ReadWholeFile(storeFolder + "/" + name, &storedContent);
    if (storedContent != content) continue;
    // The store's own writes fail only when the host refuses them.
    const bool catalogInstalled = sim::InstallCatalog(catalog, catalogContent, number);
    if (!catalogInstalled) return sim::FailWith(ERROR_ACCESS_DENIED);  // GCOVR_EXCL_BR_LINE
    sim::ReportStoredPath(name, destinationInfFileName);
    // As documented: the call fails, yet hands back the name of the copy that is there.
    if ((copyStyle & SP_COPY_NOOVERWRITE) != 0) return sim::FailWith(ERROR_FILE_EXISTS);
    return TRUE;
  }
  if ((copyStyle & SP_COPY_OEMINF_CATALOG_ONLY) != 0) return TRUE;

  long number = 0;
  while (stored.count(number) != 0) ++number;
  const std::string base = "oem" + std::to_string(number);
  const std::string infFile = storeFolder + "/" + base + ".inf";
  const std::string pnfFile = storeFolder + "/" + base + ".pnf";
  const std::string pnfContent = "PNF\nSource=" + sourcePath.windowsPath + "\n";
  // The store's own writes fail only when the host refuses them; a copy left half written goes.
  // GCOVR_EXCL_BR_START
  if (!sim::WriteContent(infFile, content) || !sim::WriteContent(pnfFile, pnfContent) ||
      !sim::InstallCatalog(catalog, catalogContent, number)) {
    std::error_code ignored;
    std::filesystem::remove(infFile, ignored);
    std::filesystem::remove(pnfFile, ignored);
    return sim::FailWith(ERROR_ACCESS_DENIED);
  }
  // GCOVR_EXCL_BR_STOP
  return sim::ReportStoredPath(base + ".inf", destinationInfFileName);
}

// The installer names only a copy that it has just read in the store, by its name there. No
// device on this machine is ever installed from a stored INF, so the copy is never in use and
// the force flag changes nothing. Like a deletion, a read-only file stops it.
BOOL WINAPI SetupUninstallOEMInfA(PCSTR infFileName, DWORD flags, LPVOID /*reserved*/) {
  SIM_CALL(SetupUninstallOEMInfA, infFileName, flags);
  const std::string infPath = std::string(sim::kStoreFolder) + "\\" + infFileName;
  const std::string pnfPath = infPath.substr(0, infPath.size() - 4) + ".pnf";
  const std::string catalogPath =
      std::string(sim::kCatalogFolder) + "\\oem" + std::to_string(sim::StoredNumber(infFileName)) + ".cat";
  for (const std::string* path : {&infPath, &pnfPath, &catalogPath}) {
    if (!sim::RemoveMachineFile(*path)) return sim::FailWith(ERROR_ACCESS_DENIED);
  }
  return TRUE;
}

// Only a full path is simulated (INFINFO_INF_NAME_IS_ABSOLUTE), the one form the installer
// uses, with a buffer that holds any INF's information. The version data that Windows
// returns is opaque to callers: here it holds the INF's full path and the catalog it names
// (cut to MAX_PATH), which SetupQueryInfOriginalFileInformationA hands on.
BOOL WINAPI SetupGetInfInformationA(const void* infSpec, DWORD /*searchControl*/,
                                    PSP_INF_INFORMATION returnBuffer, DWORD /*returnBufferSize*/,
                                    PDWORD /*requiredSize*/) {
  const char* path = static_cast<const char*>(infSpec);
  SIM_CALL(SetupGetInfInformationA, path);
  sim::MappedPath inf;
  std::string catalog;
  bool newStyle = false;
  if (!sim::OpenInf(path, &inf, &catalog, &newStyle)) return FALSE;
  const std::string versionData = inf.windowsPath + '\0' + catalog.substr(0, MAX_PATH - 1) + '\0';
  returnBuffer->InfStyle = newStyle ? INF_STYLE_WIN4 : INF_STYLE_OLDNT;
  returnBuffer->InfCount = 1;
  std::memcpy(returnBuffer->VersionData, versionData.data(), versionData.size());
  return TRUE;
}

// The installer asks about the one INF of what SetupGetInfInformationA just filled, with
// its record's size set.
BOOL WINAPI SetupQueryInfOriginalFileInformationA(PSP_INF_INFORMATION infInformation, UINT /*infIndex*/,
                                                  PSP_ALTPLATFORM_INFO /*alternatePlatformInfo*/,
                                                  PSP_ORIGINAL_FILE_INFO_A originalFileInfo) {
  const char* path = reinterpret_cast<const char*>(infInformation->VersionData);
  SIM_CALL(SetupQueryInfOriginalFileInformationA, path);
  sim::MappedPath inf;
  DWORD error = 0;
  sim::MapWindowsPath(path, &inf, &error);
  const std::string original = sim::OriginalInfName(inf);
  std::snprintf(originalFileInfo->OriginalInfName, MAX_PATH, "%s", original.c_str());
  std::snprintf(originalFileInfo->OriginalCatalogName, MAX_PATH, "%s", path + std::strlen(path) + 1);
  return TRUE;
}
