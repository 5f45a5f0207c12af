#include "platform/sim/file_attributes.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "platform/sim/machine.h"

namespace sim {

DWORD StoredAttributes(const std::string& linuxPath) {
  const auto& attributes = TheMachine().fileAttributes;
  const auto found = attributes.find(linuxPath);
  return found == attributes.end() ? 0 : found->second;
}

void StoreAttributes(const std::string& linuxPath, DWORD attributes) {
  const DWORD kept = attributes & kKeptAttributes;
  if (kept == 0) {
    TheMachine().fileAttributes.erase(linuxPath);
  } else {
    TheMachine().fileAttributes[linuxPath] = kept;
  }
}

std::string FormatAttributesFile(const std::map<std::string, DWORD>& attributes,
                                 const std::string& machineFolder) {
  std::string text;
  const std::string inside = machineFolder + "/";
  for (const auto& [path, bits] : attributes) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x ", static_cast<unsigned>(bits));
    text += hex;
    text += path.compare(0, inside.size(), inside) == 0 ? path.substr(inside.size()) : path;
    text += '\n';
  }
  return text;
}

bool ParseAttributesFile(const std::string& text, const std::string& machineFolder,
                         std::map<std::string, DWORD>* attributes, std::string* error) {
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (line.empty()) continue;
    const size_t space = line.find(' ');
    char* end = nullptr;
    const unsigned long bits = std::strtoul(line.c_str(), &end, 16);
    if (space == std::string::npos || space + 1 == line.size() || end != line.c_str() + space ||
        (bits & ~static_cast<unsigned long>(kKeptAttributes)) != 0) {
      *error = "line " + std::to_string(number) + " is not \"<bits> <path>\": " + line;
      return false;
    }
    const std::string path = line.substr(space + 1);
    const std::string linuxPath = path[0] == '/' ? path : machineFolder + "/" + path;
    if (bits != 0) (*attributes)[linuxPath] = static_cast<DWORD>(bits);
  }
  return true;
}

}  // namespace sim
