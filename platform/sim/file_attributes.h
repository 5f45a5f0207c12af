// The read-only, hidden and system attributes of the machine's files. Linux has no
// place for them, so the machine keeps them itself, per file, and saves them in a
// text file in the machine folder.
#pragma once

#include <string>

#include "platform/sim/win32_api.h"

namespace sim {

constexpr const char* kAttributesFileName = "file-attributes.txt";
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// The kept bits of the file at `linuxPath`; 0 when it has none.
DWORD StoredAttributes(const std::string& linuxPath);
// Keeps the kept bits of `attributes` for the file; 0 forgets the file.
void StoreAttributes(const std::string& linuxPath, DWORD attributes);

}  // namespace sim
