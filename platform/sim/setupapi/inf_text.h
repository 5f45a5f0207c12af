// What SetupCopyOEMInfA reads of an INF file before it stores it: whether the text
// opens as a Windows NT style INF, and the catalog that its [Version] section names.
#pragma once

#include <string>

#include "platform/sim/win32_api.h"

namespace sim {

// 0 when `text` opens as an INF of the Windows NT style, else the error that
// SetupOpenInfFile gives for it. `catalogFile` receives the first field of the
// CatalogFile line of [Version], without quotes; empty when there is none.
DWORD ReadInfText(const std::string& text, std::string* catalogFile);

}  // namespace sim
