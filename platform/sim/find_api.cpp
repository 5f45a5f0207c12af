// KERNEL32 FindFirstFileA, FindNextFileA and FindClose on the simulated machine. A
// search takes the folder's matching entries when it starts and hands them out in the
// order NTFS keeps them: "." and ".." first (a drive's root has neither), then the
// names sorted without regard to case.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/calls.h"
#include "platform/sim/file_attributes.h"
#include "platform/sim/paths.h"

namespace sim {
namespace {

// Seconds from 1601-01-01, where FILETIME counts from, to 1970-01-01.
constexpr uint64_t kSecondsTo1970 = 11644473600ull;

struct Search {
  std::vector<WIN32_FIND_DATAA> entries;
  size_t next = 0;
};

std::map<HANDLE, std::unique_ptr<Search>>& Searches() {
  static std::map<HANDLE, std::unique_ptr<Search>> searches;
  return searches;
}

char Upper(char c) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

// '*' matches any run of characters and '?' any one, without regard to case.
bool Matches(const char* pattern, const char* name) {
  if (*pattern == '\0') return *name == '\0';
  if (*pattern == '*') {
    for (const char* rest = name;; ++rest) {
      if (Matches(pattern + 1, rest)) return true;
      if (*rest == '\0') return false;
    }
  }
  if (*name == '\0') return false;
  if (*pattern != '?' && Upper(*pattern) != Upper(*name)) return false;
  return Matches(pattern + 1, name + 1);
}

// A pattern ending in ".*" also matches names without any period, as "*.*" matches
// every name.
bool NameMatches(const std::string& pattern, const std::string& name) {
  if (Matches(pattern.c_str(), name.c_str())) return true;
  const size_t length = pattern.size();
  if (length >= 2 && pattern.compare(length - 2, 2, ".*") == 0 && name.find('.') == std::string::npos) {
    return Matches(pattern.substr(0, length - 2).c_str(), name.c_str());
  }
  return false;
}

FILETIME ToFileTime(const struct timespec& time) {
  const uint64_t ticks = (static_cast<uint64_t>(time.tv_sec) + kSecondsTo1970) * 10000000ull +
                         static_cast<uint64_t>(time.tv_nsec) / 100;
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

// The entry as a search reports it, with the same attributes GetFileAttributesA gives.
WIN32_FIND_DATAA Entry(const std::string& name, const std::string& linuxPath, const struct stat& info) {
  WIN32_FIND_DATAA entry;
  std::memset(&entry, 0, sizeof entry);
  const bool folder = S_ISDIR(info.st_mode);
  entry.dwFileAttributes =
      (folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE) | StoredAttributes(linuxPath);
  entry.ftCreationTime = ToFileTime(info.st_mtim);
  entry.ftLastAccessTime = ToFileTime(info.st_atim);
  entry.ftLastWriteTime = ToFileTime(info.st_mtim);
  const uint64_t size = folder ? 0 : static_cast<uint64_t>(info.st_size);
  entry.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  entry.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
  std::strncpy(entry.cFileName, name.c_str(), sizeof entry.cFileName - 1);
  return entry;
}

bool BeforeInFolderOrder(const WIN32_FIND_DATAA& a, const WIN32_FIND_DATAA& b) {
  for (size_t i = 0;; ++i) {
    const char x = Upper(a.cFileName[i]);
    const char y = Upper(b.cFileName[i]);
    if (x != y || x == '\0') return x < y;
  }
}

// Splits "C:\pkg\*.inf" into the folder "C:\pkg\" and the name pattern "*.inf".
void SplitPattern(const std::string& pattern, std::string* folder, std::string* name) {
  const size_t separator = pattern.find_last_of("\\/");
  if (separator != std::string::npos) {
    *folder = pattern.substr(0, separator + 1);
    *name = pattern.substr(separator + 1);
  } else if (pattern.size() >= 2 && pattern[1] == ':') {
    *folder = pattern.substr(0, 2);
    *name = pattern.substr(2);
  } else {
    *folder = ".";
    *name = pattern;
  }
}

void CopyEntry(const WIN32_FIND_DATAA& entry, LPWIN32_FIND_DATAA found) {
  std::memcpy(found, &entry, sizeof entry);
}

}  // namespace
}  // namespace sim

HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA found) {
  if (const sim::Fault* fault = sim::EnterCall("FindFirstFileA", pattern != nullptr ? pattern : "(null)")) {
    SetLastError(sim::FaultError(*fault, ERROR_ACCESS_DENIED));
    return INVALID_HANDLE_VALUE;
  }
  if (pattern == nullptr || found == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string folderPart;
  std::string namePattern;
  sim::SplitPattern(pattern, &folderPart, &namePattern);
  sim::MappedPath folder;
  DWORD error = 0;
  if (!sim::MapWindowsPath(folderPart, &folder, &error)) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  struct stat folderInfo;
  if (::stat(folder.linuxPath.c_str(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // "C:\pkg\" names no entry of the folder.
  if (namePattern.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }

  auto search = std::make_unique<sim::Search>();
  std::vector<WIN32_FIND_DATAA> named;
  if (DIR* dir = ::opendir(folder.linuxPath.c_str())) {
    const bool root = folder.windowsPath.size() == 3;  // "C:\"
    while (const dirent* item = ::readdir(dir)) {
      const std::string name = item->d_name;
      const bool dots = name == "." || name == "..";
      if ((dots && root) || !sim::NameMatches(namePattern, name)) continue;
      const std::string linuxPath = folder.linuxPath + "/" + name;
      struct stat info;
      if (::stat(linuxPath.c_str(), &info) != 0) continue;
      (dots ? search->entries : named).push_back(sim::Entry(name, linuxPath, info));
    }
    ::closedir(dir);
  }
  std::sort(search->entries.begin(), search->entries.end(), sim::BeforeInFolderOrder);
  std::sort(named.begin(), named.end(), sim::BeforeInFolderOrder);
  search->entries.insert(search->entries.end(), named.begin(), named.end());
  if (search->entries.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  sim::CopyEntry(search->entries[0], found);
  search->next = 1;
  const HANDLE handle = search.get();
  sim::Searches()[handle] = std::move(search);
  return handle;
}

BOOL WINAPI FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA found) {
  if (const sim::Fault* fault = sim::EnterCall("FindNextFileA")) {
    SetLastError(sim::FaultError(*fault, ERROR_NO_MORE_FILES));
    return FALSE;
  }
  auto entry = sim::Searches().find(handle);
  if (entry == sim::Searches().end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  sim::Search& search = *entry->second;
  if (search.next >= search.entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  if (found == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  sim::CopyEntry(search.entries[search.next++], found);
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE handle) {
  if (const sim::Fault* fault = sim::EnterCall("FindClose")) {
    SetLastError(sim::FaultError(*fault, ERROR_INVALID_HANDLE));
    return FALSE;
  }
  if (sim::Searches().erase(handle) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
