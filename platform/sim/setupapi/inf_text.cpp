// The rules, as Windows applies them and as Wine's conformance tests of SetupOpenInfFile
// record them:
// - An empty file cannot be opened at all: ERROR_FILE_INVALID.
// - Blank lines and lines that start with ';' are skipped. A line that starts with '['
//   names a section up to the next ']' (ERROR_BAD_SECTION_NAME_LINE without one,
//   ERROR_SECTION_NAME_TOO_LONG past 255 characters); sections of the same name merge.
// - Text before the first section is an error (ERROR_EXPECTED_SECTION_NAME), unless that
//   section is [Strings].
// - The Windows NT style needs [Version] with Signature "$Windows NT$", "$Chicago$" or
//   "$Windows 95$", without regard to case; else, and for a file with no section at
//   all, ERROR_WRONG_INF_STYLE. Wine differs for text without any section: it gives
//   ERROR_EXPECTED_SECTION_NAME (its tests mark that as its own fault).
#include "platform/sim/setupapi/inf_text.h"

#include <sstream>

#include "platform/sim/registry_tree.h"

namespace sim {
namespace {

constexpr size_t kMaxSectionName = 255;

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// The line without a comment: from a ';' outside quotes to the end.
std::string WithoutComment(const std::string& line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == ';' && !quoted) return line.substr(0, i);
  }
  return line;
}

// The first field of a value, trimmed, its quotes removed.
std::string FirstField(const std::string& value) {
  std::string field;
  bool quoted = false;
  for (char c : value) {
    if (c == '"') {
      quoted = !quoted;
      continue;
    }
    if (c == ',' && !quoted) break;
    field += c;
  }
  return Trim(field);
}

bool IsKnownSignature(const std::string& signature) {
  for (const char* known : {"$Windows NT$", "$Chicago$", "$Windows 95$"}) {
    if (NamesEqual(signature, known)) return true;
  }
  return false;
}

}  // namespace

DWORD ReadInfText(const std::string& text, std::string* catalogFile) {
  catalogFile->clear();
  if (text.empty()) return ERROR_FILE_INVALID;
  std::istringstream lines(text);
  std::string line;
  std::string section;
  bool inSection = false;
  bool textBeforeSections = false;
  bool firstSectionSeen = false;
  bool hasSignature = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string content = Trim(line);
    if (content.empty() || content[0] == ';') continue;
    if (content[0] == '[') {
      const size_t close = content.find(']');
      if (close == std::string::npos) return ERROR_BAD_SECTION_NAME_LINE;
      section = content.substr(1, close - 1);
      if (section.size() > kMaxSectionName) return ERROR_SECTION_NAME_TOO_LONG;
      if (!firstSectionSeen && textBeforeSections && !NamesEqual(section, "Strings")) {
        return ERROR_EXPECTED_SECTION_NAME;
      }
      firstSectionSeen = true;
      inSection = true;
      continue;
    }
    if (!inSection) {
      textBeforeSections = true;
      continue;
    }
    if (!NamesEqual(section, "Version")) continue;
    const std::string entry = WithoutComment(content);
    const size_t equals = entry.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = Trim(entry.substr(0, equals));
    const std::string value = FirstField(entry.substr(equals + 1));
    if (NamesEqual(key, "Signature")) {
      hasSignature = hasSignature || IsKnownSignature(value);
    } else if (NamesEqual(key, "CatalogFile") && catalogFile->empty()) {
      *catalogFile = value;
    }
  }
  if (!hasSignature) return ERROR_WRONG_INF_STYLE;
  return 0;
}

}  // namespace sim
