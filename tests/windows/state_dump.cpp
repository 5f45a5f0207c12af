// Prints what a Windows machine shows of the installer's work, in one sorted text
// format, so that two machines (Wine and the simulated one) can be compared line by line:
//
//   qnetprep_dump [key HKLM\<path>]... [files <folder>]... [file <path>]... [devices] [service <name>]...
//
//   key HKLM\Software\Orvix                         a key that exists; every key below it follows
//   nokey HKLM\Software\Orvix\qnetprep              a key asked for that does not exist
//   value HKLM\Software\Orvix\qnetprep "Install" REG_SZ len=512 "Success"+NUL*505
//   file C:\Program Files\Orvix\qnetprep\RX90K.SYS size=79 attr=-
//   dir C:\Program Files\Orvix                      a folder entry (not descended into)
//   nofolder C:\Program Files\Orvix\qnetprep        a folder asked for that does not exist
//   nofile C:\windows\system32\qnetprep.exe         a single file asked for that does not exist
//   device net PCI\VEN_1E7C&DEV_4C43&...\1 desc="Orvix RX90K"   (or desc=none)
//   service RX90K present | absent | error=<code>
//
// Value data is shown byte for byte: printable ASCII as is (\\ and \" escaped), other
// bytes as \xHH, and a run of NUL bytes at the end as +NUL*<count>, so the exact
// stored length and every byte of it are visible. File attributes show only R, H and S;
// the archive bit says nothing about the installer. The program uses only calls that
// the simulated machine provides as well, so the same source can dump either machine.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "tests/windows/device_classes.h"
#include "tests/windows/device_listing.h"

namespace {

// The collected lines, sorted before they are printed.
char** gLines = nullptr;
size_t gLineCount = 0;
size_t gLineCapacity = 0;

void AddLine(const char* line) {
  if (gLineCount == gLineCapacity) {
    gLineCapacity = gLineCapacity == 0 ? 256 : gLineCapacity * 2;
    gLines = static_cast<char**>(std::realloc(gLines, gLineCapacity * sizeof *gLines));
    if (gLines == nullptr) std::abort();
  }
  const size_t length = std::strlen(line);
  char* copy = static_cast<char*>(std::malloc(length + 1));
  if (copy == nullptr) std::abort();
  std::memcpy(copy, line, length + 1);
  gLines[gLineCount++] = copy;
}

int CompareLines(const void* a, const void* b) {
  return std::strcmp(*static_cast<char* const*>(a), *static_cast<char* const*>(b));
}

// Appends `text` to the line being built; lines longer than the buffer are cut, which
// only a value of more than 64 KiB could cause.
struct LineBuilder {
  char text[200000];
  size_t length = 0;

  void Append(const char* part) {
    const size_t partLength = std::strlen(part);
    if (length + partLength >= sizeof text) return;
    std::memcpy(text + length, part, partLength + 1);
    length += partLength;
  }
  void Clear() {
    length = 0;
    text[0] = '\0';
  }
};

LineBuilder gLine;

const char* TypeName(DWORD type, char* scratch, size_t capacity) {
  switch (type) {
    case REG_NONE:
      return "REG_NONE";
    case REG_SZ:
      return "REG_SZ";
    case REG_EXPAND_SZ:
      return "REG_EXPAND_SZ";
    case REG_BINARY:
      return "REG_BINARY";
    case REG_DWORD:
      return "REG_DWORD";
    case REG_MULTI_SZ:
      return "REG_MULTI_SZ";
    default:
      std::snprintf(scratch, capacity, "type=%lu", static_cast<unsigned long>(type));
      return scratch;
  }
}

void AppendData(const BYTE* data, DWORD length) {
  DWORD shown = length;
  while (shown > 0 && data[shown - 1] == 0) --shown;
  gLine.Append("\"");
  for (DWORD i = 0; i < shown; ++i) {
    char piece[8];
    const BYTE byte = data[i];
    if (byte == '\\' || byte == '"') {
      std::snprintf(piece, sizeof piece, "\\%c", byte);
    } else if (byte >= 0x20 && byte < 0x7F) {
      std::snprintf(piece, sizeof piece, "%c", byte);
    } else {
      std::snprintf(piece, sizeof piece, "\\x%02X", byte);
    }
    gLine.Append(piece);
  }
  gLine.Append("\"");
  if (shown < length) {
    char tail[32];
    std::snprintf(tail, sizeof tail, "+NUL*%lu", static_cast<unsigned long>(length - shown));
    gLine.Append(tail);
  }
}

void DumpValues(HKEY key, const char* path) {
  static char name[16384];
  static BYTE data[65536];
  for (DWORD index = 0;; ++index) {
    DWORD nameSize = sizeof name;
    DWORD dataSize = sizeof data;
    DWORD type = 0;
    const LSTATUS status = RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) return;
    char scratch[32];
    gLine.Clear();
    gLine.Append("value ");
    gLine.Append(path);
    if (status != ERROR_SUCCESS) {
      std::snprintf(scratch, sizeof scratch, " error=%ld", static_cast<long>(status));
      gLine.Append(scratch);
      AddLine(gLine.text);
      return;
    }
    gLine.Append(" \"");
    gLine.Append(name);
    gLine.Append("\" ");
    gLine.Append(TypeName(type, scratch, sizeof scratch));
    std::snprintf(scratch, sizeof scratch, " len=%lu ", static_cast<unsigned long>(dataSize));
    gLine.Append(scratch);
    AppendData(data, dataSize);
    AddLine(gLine.text);
  }
}

// `path` is the key's path below HKEY_LOCAL_MACHINE.
void DumpKeyTree(const char* path, bool asked) {
  char shown[2048];
  std::snprintf(shown, sizeof shown, "HKLM\\%s", path);
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    if (asked) {
      gLine.Clear();
      gLine.Append("nokey ");
      gLine.Append(shown);
      AddLine(gLine.text);
    }
    return;
  }
  gLine.Clear();
  gLine.Append("key ");
  gLine.Append(shown);
  AddLine(gLine.text);
  DumpValues(key, shown);
  for (DWORD index = 0;; ++index) {
    char name[512];
    DWORD nameSize = sizeof name;
    if (RegEnumKeyExA(key, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    char child[2048];
    std::snprintf(child, sizeof child, "%s\\%s", path, name);
    DumpKeyTree(child, false);
  }
  RegCloseKey(key);
}

void AddEntryLine(const char* folder, const WIN32_FIND_DATAA& found) {
  char line[MAX_PATH * 2 + 64];
  const DWORD attributes = found.dwFileAttributes;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    std::snprintf(line, sizeof line, "dir %s\\%s", folder, found.cFileName);
  } else {
    char flags[4] = "";
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) std::strcat(flags, "R");
    if ((attributes & FILE_ATTRIBUTE_HIDDEN) != 0) std::strcat(flags, "H");
    if ((attributes & FILE_ATTRIBUTE_SYSTEM) != 0) std::strcat(flags, "S");
    const unsigned long long size =
        (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    std::snprintf(line, sizeof line, "file %s\\%s size=%llu attr=%s", folder, found.cFileName, size,
                  flags[0] != '\0' ? flags : "-");
  }
  AddLine(line);
}

void DumpFolder(const char* folder) {
  char pattern[MAX_PATH + 8];
  std::snprintf(pattern, sizeof pattern, "%s\\*", folder);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) {
    char line[MAX_PATH + 16];
    std::snprintf(line, sizeof line, "nofolder %s", folder);
    AddLine(line);
    return;
  }
  do {
    if (std::strcmp(found.cFileName, ".") != 0 && std::strcmp(found.cFileName, "..") != 0) {
      AddEntryLine(folder, found);
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

// One file, shown under the folder part of `path` as given and its name as stored.
void DumpFile(const char* path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) {
    char line[MAX_PATH + 16];
    std::snprintf(line, sizeof line, "nofile %s", path);
    AddLine(line);
    return;
  }
  FindClose(search);
  char folder[MAX_PATH + 1];
  std::snprintf(folder, sizeof folder, "%s", path);
  char* lastSeparator = std::strrchr(folder, '\\');
  if (lastSeparator != nullptr) *lastSeparator = '\0';
  AddEntryLine(folder, found);
}

void DumpDevices() {
  for (const TestDeviceClass& deviceClass : kTestDeviceClasses) {
    if (!ListPresentDevices(deviceClass, AddLine)) {
      char line[64];
      std::snprintf(line, sizeof line, "nodevices %s", deviceClass.name);
      AddLine(line);
    }
  }
}

void DumpService(const char* name) {
  char line[1024];
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    std::snprintf(line, sizeof line, "service %s error=%lu", name,
                  static_cast<unsigned long>(GetLastError()));
    AddLine(line);
    return;
  }
  SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
  if (service != nullptr) {
    std::snprintf(line, sizeof line, "service %s present", name);
    CloseServiceHandle(service);
  } else if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
    std::snprintf(line, sizeof line, "service %s absent", name);
  } else {
    std::snprintf(line, sizeof line, "service %s error=%lu", name,
                  static_cast<unsigned long>(GetLastError()));
  }
  AddLine(line);
  CloseServiceHandle(manager);
}

int Usage() {
  std::fprintf(stderr,
               "usage: qnetprep_dump [key HKLM\\<path>]... [files <folder>]... [file <path>]... [devices]\n"
               "                     [service <name>]...\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* item = argv[i];
    if (std::strcmp(item, "devices") == 0) {
      DumpDevices();
    } else if (i + 1 >= argc) {
      return Usage();
    } else if (std::strcmp(item, "key") == 0) {
      const char* path = argv[++i];
      if (std::strncmp(path, "HKLM\\", 5) != 0) return Usage();
      DumpKeyTree(path + 5, true);
    } else if (std::strcmp(item, "files") == 0) {
      DumpFolder(argv[++i]);
    } else if (std::strcmp(item, "file") == 0) {
      DumpFile(argv[++i]);
    } else if (std::strcmp(item, "service") == 0) {
      DumpService(argv[++i]);
    } else {
      return Usage();
    }
  }
  // An empty dump has no line array at all, and qsort must not be handed a null one.
  if (gLineCount > 1) std::qsort(gLines, gLineCount, sizeof *gLines, CompareLines);
  for (size_t i = 0; i < gLineCount; ++i) std::printf("%s\n", gLines[i]);
  return 0;
}
