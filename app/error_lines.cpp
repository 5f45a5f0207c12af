#include "app/error_lines.h"

#include <cstdio>

void ReportSetFileAttributesError(DWORD error) {
  std::printf("SetFileAttributes error, error value = %x", static_cast<unsigned>(error));
}

void ReportCopyFileError(DWORD error) {
  std::printf("CopyFile error, error value = %x", static_cast<unsigned>(error));
}
