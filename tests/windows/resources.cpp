// Prints what Windows reads from an executable's resources: the version resource, then the
// application manifest (type 24, id 1). Exit code 2 when either is missing.
#include <windows.h>

#include <cstdio>
#include <initializer_list>

int main(int argc, char** argv) {
  if (argc != 2) return 1;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(argv[1], &ignored);
  static char info[65536];
  if (size == 0 || size > sizeof info || !GetFileVersionInfoA(argv[1], 0, size, info)) return 2;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (VerQueryValueA(info, "\\", reinterpret_cast<void**>(&fixed), &length) && length >= sizeof *fixed) {
    std::printf("FileVersion %u.%u.%u.%u\nProductVersion %u.%u.%u.%u\nFileOS 0x%x\nFileType %u\n",
                HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS),
                HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
                HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS),
                static_cast<unsigned>(fixed->dwFileOS), static_cast<unsigned>(fixed->dwFileType));
  }
  for (const char* name : {"FileDescription", "FileVersion", "InternalName", "OriginalFilename",
                           "ProductName", "ProductVersion"}) {
    char query[64];
    std::snprintf(query, sizeof query, "\\StringFileInfo\\040904b0\\%s", name);
    char* text = nullptr;
    if (VerQueryValueA(info, query, reinterpret_cast<void**>(&text), &length)) {
      std::printf("String %s=%s\n", name, text);
    }
  }
  // Loaded as data, as the loader reads it: the manifest of a 32-bit program too.
  HMODULE module = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC found =
      module != nullptr ? FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)) : nullptr;
  HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
  if (loaded == nullptr) return 2;
  std::printf("Manifest %lu bytes\n", SizeofResource(module, found));
  std::fwrite(LockResource(loaded), 1, SizeofResource(module, found), stdout);
  return 0;
}
