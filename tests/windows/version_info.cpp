// Prints the version resource of an executable as Windows reads it (GetFileVersionInfoA),
// one item a line:
//
//   FileVersion 0.0.3.7
//   ProductVersion 0.0.3.7
//   FileOS 0x40004
//   FileType 1
//   String FileDescription=qnetprep      (each string of the 040904b0 block)
//
// Exit code 0, or 2 when the file has no version resource.
#include <windows.h>

#include <cstdio>

namespace {

const char* const kStringNames[] = {"FileDescription",  "FileVersion", "InternalName",
                                    "OriginalFilename", "ProductName", "ProductVersion"};

void PrintVersion(const char* label, DWORD high, DWORD low) {
  std::printf("%s %u.%u.%u.%u\n", label, static_cast<unsigned>(HIWORD(high)),
              static_cast<unsigned>(LOWORD(high)), static_cast<unsigned>(HIWORD(low)),
              static_cast<unsigned>(LOWORD(low)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qnetprep_version <file>\n");
    return 1;
  }
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(argv[1], &ignored);
  static char info[65536];
  if (size == 0 || size > sizeof info || !GetFileVersionInfoA(argv[1], 0, size, info)) {
    std::fprintf(stderr, "no version resource in %s, error %lu\n", argv[1], GetLastError());
    return 2;
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  if (VerQueryValueA(info, "\\", reinterpret_cast<void**>(&fixed), &fixedSize) &&
      fixedSize >= sizeof *fixed) {
    PrintVersion("FileVersion", fixed->dwFileVersionMS, fixed->dwFileVersionLS);
    PrintVersion("ProductVersion", fixed->dwProductVersionMS, fixed->dwProductVersionLS);
    std::printf("FileOS 0x%lx\nFileType %lu\n", fixed->dwFileOS, fixed->dwFileType);
  }
  for (const char* name : kStringNames) {
    char query[64];
    std::snprintf(query, sizeof query, "\\StringFileInfo\\040904b0\\%s", name);
    char* text = nullptr;
    UINT length = 0;
    if (VerQueryValueA(info, query, reinterpret_cast<void**>(&text), &length)) {
      std::printf("String %s=%s\n", name, text);
    }
  }
  return 0;
}
