// The program's only output: a short line on standard output, with no line break, when a file
// it must replace or delete cannot be readied or copied. Silent runs show nothing of it.
#pragma once

#include "platform/platform.h"

void ReportSetFileAttributesError(DWORD error);
void ReportCopyFileError(DWORD error);
