// The registry file of a simulated machine, in the REGEDIT4 text that regedit exports,
// so that a person can read and edit it. Every key gets its own section, an empty one
// too. A REG_SZ value is written as quoted text only when that loses nothing
// (printable ASCII and exactly one terminating NUL); every other value is written as
// bytes with its type, so that data lengths, missing terminators and stray bytes
// survive. Key names holding a line break cannot be written in this format.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "platform/sim/registry_tree.h"
#include "platform/sim/win32_api.h"

// The file is read before the installer starts and written after it ends: no call of the
// installer reaches it, and only a test or a person writes what it refuses.
// GCOVR_EXCL_BR_START
namespace sim {
namespace {

// regedit starts a new line once a hex list passes this column.
constexpr size_t kHexWrapColumn = 76;
// Quoted text escapes these characters, each as a backslash and the letter in its place.
constexpr std::string_view kEscaped = "\\\"\n\r";
constexpr std::string_view kEscapeLetters = "\\\"nr";

// ---------------------------------------------------------------- writing

void AppendEscaped(std::string& out, std::string_view text) {
  for (const char c : text) {
    const size_t escape = kEscaped.find(c);
    if (escape != std::string_view::npos) out += '\\';
    out += escape != std::string_view::npos ? kEscapeLetters[escape] : c;
  }
}

bool IsPlainText(const RegValue& value) {
  if (value.type != REG_SZ || value.data.empty() || value.data.back() != 0) return false;
  for (size_t i = 0; i + 1 < value.data.size(); ++i) {
    if (value.data[i] < 0x20 || value.data[i] > 0x7E) return false;
  }
  return true;
}

void AppendHexList(std::string& out, const std::vector<uint8_t>& data, size_t column) {
  char digits[3];
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(digits, sizeof digits, "%02x", data[i]);
    out += digits;
    column += 2;
    if (i + 1 < data.size()) {
      out += ',';
      if (++column > kHexWrapColumn) {
        out += "\\\n  ";
        column = 2;
      }
    }
  }
}

void AppendValue(std::string& out, const RegValue& value) {
  const size_t lineStart = out.size();
  if (value.name.empty()) {
    out += '@';
  } else {
    out += '"';
    AppendEscaped(out, value.name);
    out += '"';
  }
  out += '=';
  char prefix[24];
  if (IsPlainText(value)) {
    out += '"';
    AppendEscaped(out,
                  std::string_view(reinterpret_cast<const char*>(value.data.data()), value.data.size() - 1));
    out += "\"\n";
    return;
  }
  if (value.type == REG_DWORD && value.data.size() == 4) {
    uint32_t number = 0;  // little-endian, as the machine that runs the simulation
    std::memcpy(&number, value.data.data(), sizeof number);
    std::snprintf(prefix, sizeof prefix, "dword:%08x\n", number);
    out += prefix;
    return;
  }
  if (value.type == REG_BINARY) {
    out += "hex:";
  } else {
    std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
    out += prefix;
  }
  AppendHexList(out, value.data, out.size() - lineStart);
  out += '\n';
}

void AppendKey(std::string& out, const RegKey& key, const std::string& path) {
  out += '[';
  out += path;
  out += "]\n";
  for (const RegValue& value : key.values) AppendValue(out, value);
  out += '\n';
  for (const std::shared_ptr<RegKey>& subkey : key.subkeys)
    AppendKey(out, *subkey, path + "\\" + subkey->name);
}

// ---------------------------------------------------------------- reading

// The lines of the text without their line ends; a line's number is its index plus one.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (true) {
    const size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == text.size()) return lines;
    text.remove_prefix(end + 1);
  }
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimLeft(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && NamesEqual(text.substr(0, prefix.size()), prefix);
}

// 1 to 8 hexadecimal digits, the whole of `text`.
bool ParseHexNumber(std::string_view text, uint32_t* number) {
  const char* end = text.data() + text.size();
  if (text.empty() || text.size() > 8) return false;
  const std::from_chars_result parsed = std::from_chars(text.data(), end, *number, 16);
  return parsed.ec == std::errc() && parsed.ptr == end;
}

// Reads a quoted string starting at text[*pos] == '"'; leaves *pos after the closing quote.
bool ParseQuoted(std::string_view text, size_t* pos, std::string* result, std::string* why) {
  size_t i = *pos + 1;
  result->clear();
  while (i < text.size() && text[i] != '"') {
    if (text[i] == '\\') {
      if (i + 1 >= text.size()) break;
      const size_t escape = kEscapeLetters.find(text[i + 1]);
      if (escape == std::string_view::npos) {
        *why = std::string("unknown escape \\") + text[i + 1];
        return false;
      }
      *result += kEscaped[escape];
      i += 2;
    } else {
      *result += text[i++];
    }
  }
  if (i >= text.size()) {
    *why = "unterminated quoted text";
    return false;
  }
  *pos = i + 1;
  return true;
}

bool ParseHexList(std::string_view text, std::vector<uint8_t>* bytes, std::string* why) {
  bytes->clear();
  text = TrimRight(TrimLeft(text));
  if (text.empty()) return true;
  size_t start = 0;
  while (true) {
    size_t comma = text.find(',', start);
    const std::string_view item = TrimRight(TrimLeft(
        text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start)));
    uint32_t byte = 0;
    if (item.size() > 2 || !ParseHexNumber(item, &byte)) {
      *why = "bad byte \"" + std::string(item) + "\" in hex list";
      return false;
    }
    bytes->push_back(static_cast<uint8_t>(byte));
    if (comma == std::string_view::npos) return true;
    start = comma + 1;
  }
}

struct Parser {
  const std::vector<std::string_view>& lines;
  size_t index = 0;  // the line being read
  RegKey& root;
  const std::string& rootPath;
  RegKey* current = nullptr;
  bool inSection = false;  // a section was seen; values may follow
  std::string why;

  bool Fail(size_t lineNumber, const std::string& message) {
    why = "line " + std::to_string(lineNumber) + ": " + message;
    return false;
  }

  bool ParseSection(size_t lineNumber, std::string_view text) {
    const size_t close = text.rfind(']');
    if (close == std::string_view::npos || !TrimLeft(text.substr(close + 1)).empty()) {
      return Fail(lineNumber, "key line without a closing ]");
    }
    const std::string_view path = text.substr(1, close - 1);
    inSection = true;
    current = nullptr;
    if (NamesEqual(path, rootPath)) {
      current = &root;
      return true;
    }
    if (path.size() <= rootPath.size() || !StartsWithNoCase(path, rootPath) ||
        path[rootPath.size()] != '\\') {
      return true;  // another hive: not ours
    }
    RegKey* key = &root;
    std::string_view rest = path.substr(rootPath.size() + 1);
    while (true) {
      const size_t slash = rest.find('\\');
      const std::string_view level = rest.substr(0, slash);
      if (level.empty()) return Fail(lineNumber, "empty key name in path");
      key = CreateSubkey(*key, level).get();
      if (slash == std::string_view::npos) break;
      rest = rest.substr(slash + 1);
    }
    current = key;
    return true;
  }

  // The data of a hex list that may continue on the next lines with a trailing backslash.
  bool CollectHexText(size_t first, std::string_view text, std::string* all) {
    *all = std::string(text);
    while (true) {
      const std::string_view trimmed = TrimRight(*all);
      if (trimmed.empty() || trimmed.back() != '\\') return true;
      all->resize(trimmed.size() - 1);
      if (index + 1 >= lines.size()) return Fail(first, "hex list continues past the end of the file");
      ++index;
      *all += TrimLeft(lines[index]);
    }
  }

  bool ParseValue(size_t lineNumber, std::string_view text) {
    if (!inSection) return Fail(lineNumber, "value outside any key");
    std::string name;
    size_t pos = 0;
    if (text[0] == '@') {
      pos = 1;
    } else if (!ParseQuoted(text, &pos, &name, &why)) {
      return Fail(lineNumber, why);
    }
    std::string_view rest = TrimLeft(text.substr(pos));
    if (rest.empty() || rest[0] != '=') return Fail(lineNumber, "expected = after the value name");
    rest = TrimLeft(rest.substr(1));

    uint32_t type = REG_SZ;
    std::vector<uint8_t> data;
    if (!rest.empty() && rest[0] == '"') {
      std::string textData;
      size_t end = 0;
      if (!ParseQuoted(rest, &end, &textData, &why)) return Fail(lineNumber, why);
      if (!TrimLeft(rest.substr(end)).empty()) return Fail(lineNumber, "text after the closing quote");
      data.assign(textData.begin(), textData.end());
      data.push_back(0);
    } else if (StartsWithNoCase(rest, "dword:")) {
      uint32_t number = 0;
      if (!ParseHexNumber(TrimRight(rest.substr(6)), &number)) return Fail(lineNumber, "bad dword");
      type = REG_DWORD;
      data.resize(sizeof number);
      std::memcpy(data.data(), &number, sizeof number);
    } else if (StartsWithNoCase(rest, "hex")) {
      rest.remove_prefix(3);
      type = REG_BINARY;
      if (!rest.empty() && rest[0] == '(') {
        const size_t close = rest.find(')');
        if (close == std::string_view::npos || !ParseHexNumber(rest.substr(1, close - 1), &type)) {
          return Fail(lineNumber, "bad value type in hex(...)");
        }
        rest.remove_prefix(close + 1);
      }
      if (rest.empty() || rest[0] != ':') return Fail(lineNumber, "expected : after hex");
      std::string all;
      if (!CollectHexText(lineNumber, rest.substr(1), &all)) return false;
      if (!ParseHexList(all, &data, &why)) return Fail(lineNumber, why);
    } else {
      return Fail(lineNumber, "unknown value data");
    }
    if (current != nullptr) SetValue(*current, name, type, data.data(), data.size());
    return true;
  }

  bool Run() {
    // The header comes first; a byte-order mark from an editor is tolerated.
    while (index < lines.size() && TrimRight(lines[index]).empty()) ++index;
    if (index == lines.size()) return Fail(1, "empty file, expected REGEDIT4");
    std::string_view header = lines[index];
    if (header.substr(0, 3) == "\xEF\xBB\xBF") header.remove_prefix(3);
    if (TrimRight(header) != "REGEDIT4") return Fail(index + 1, "expected REGEDIT4");
    for (++index; index < lines.size(); ++index) {
      const size_t lineNumber = index + 1;
      const std::string_view text = TrimLeft(lines[index]);
      if (TrimRight(text).empty() || text[0] == ';') continue;
      if (text[0] == '[') {
        if (!ParseSection(lineNumber, text)) return false;
      } else if (text[0] == '"' || text[0] == '@') {
        if (!ParseValue(lineNumber, text)) return false;
      } else {
        return Fail(lineNumber, "neither a key nor a value");
      }
    }
    return true;
  }
};

}  // namespace

std::string FormatRegistryFile(const RegKey& root, const std::string& rootPath) {
  std::string out = "REGEDIT4\n\n";
  AppendKey(out, root, rootPath);
  return out;
}

bool ParseRegistryFile(const std::string& text, RegKey& root, const std::string& rootPath,
                       std::string* error) {
  const std::vector<std::string_view> lines = SplitLines(text);
  Parser parser{lines, 0, root, rootPath, nullptr, false, std::string()};
  if (parser.Run()) return true;
  if (error != nullptr) *error = parser.why;
  return false;
}

}  // namespace sim
// GCOVR_EXCL_BR_STOP
