// Composing a path from a folder and a name in a fixed buffer.
#pragma once

#include <cstddef>

#include "platform/text.h"

// dest = folder + "\" + name, without doubling the backslash when the folder already
// ends with one (the root of a drive, "C:\"). False, and dest unchanged, when the
// whole path does not fit: a shortened path would name another file.
template <size_t N>
bool JoinPath(char (&dest)[N], const char* folder, const char* name) {
  const char* separator = TextEndsWith(folder, "\\") ? "" : "\\";
  return TextJoin(dest, folder, separator, name);
}

// Whether a name joined to a folder stays below it: no level of it may climb up. The
// INF argument comes from the command line, and "..\..\Vendor\x.inf" would otherwise
// stage into another product's folder or clear the attributes of a system file.
bool StaysWithinFolder(const char* name);
