#include "platform/sim/registry_tree.h"

#include <algorithm>

#include "platform/sim/win32_api.h"

namespace sim {
namespace {

unsigned char UpperAscii(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 'a' && byte <= 'z' ? static_cast<unsigned char>(byte - ('a' - 'A')) : byte;
}

// Windows keeps subkeys ordered by their upper-cased names. (Wine lower-cases
// instead; the two orders differ only for the characters [ \ ] ^ _ ` which sort
// after the letters here and before them there.)
bool NameLess(std::string_view a, std::string_view b) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const unsigned char x = UpperAscii(a[i]);
    const unsigned char y = UpperAscii(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

std::vector<std::shared_ptr<RegKey>>::const_iterator SubkeyPosition(const RegKey& key,
                                                                    std::string_view name) {
  return std::lower_bound(key.subkeys.begin(), key.subkeys.end(), name,
                          [](const std::shared_ptr<RegKey>& subkey, std::string_view wanted) {
                            return NameLess(subkey->name, wanted);
                          });
}

// Calls `visit` for each level of a backslash-separated path; repeated and trailing
// backslashes separate nothing, as in Windows. Stops when `visit` returns false.
template <typename Visit>
bool ForEachLevel(std::string_view path, Visit visit) {
  for (size_t start = path.find_first_not_of('\\'); start != std::string_view::npos;) {
    const size_t end = std::min(path.find('\\', start), path.size());
    if (!visit(path.substr(start, end - start))) return false;
    start = path.find_first_not_of('\\', end);
  }
  return true;
}

void MarkDeleted(RegKey& key) {
  key.deleted = true;
  for (const std::shared_ptr<RegKey>& subkey : key.subkeys) {
    MarkDeleted(*subkey);
    // A handle may keep a deleted key alive longer than its parent.
    subkey->parent = nullptr;
  }
}

}  // namespace

bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

std::shared_ptr<RegKey> FindSubkey(const RegKey& key, std::string_view name) {
  const auto position = SubkeyPosition(key, name);
  if (position == key.subkeys.end() || !NamesEqual((*position)->name, name)) return nullptr;
  return *position;
}

std::shared_ptr<RegKey> CreateSubkey(RegKey& key, std::string_view name) {
  const auto position = SubkeyPosition(key, name);
  if (position != key.subkeys.end() && NamesEqual((*position)->name, name)) return *position;
  auto subkey = std::make_shared<RegKey>();
  subkey->name = std::string(name);
  subkey->parent = &key;
  key.subkeys.insert(position, subkey);
  return subkey;
}

std::shared_ptr<RegKey> FindKeyPath(const std::shared_ptr<RegKey>& key, std::string_view path) {
  std::shared_ptr<RegKey> current = key;
  ForEachLevel(path, [&current](std::string_view level) {
    current = FindSubkey(*current, level);
    return current != nullptr;
  });
  return current;
}

std::shared_ptr<RegKey> CreateKeyPath(const std::shared_ptr<RegKey>& key, std::string_view path) {
  std::shared_ptr<RegKey> current = key;
  ForEachLevel(path, [&current](std::string_view level) {
    current = CreateSubkey(*current, level);
    return true;
  });
  return current;
}

bool DeleteSubkeyTree(RegKey& key, std::string_view name) {
  const std::shared_ptr<RegKey> doomed = FindSubkey(key, name);
  if (doomed == nullptr) return false;
  key.subkeys.erase(SubkeyPosition(key, name));
  MarkDeleted(*doomed);
  doomed->parent = nullptr;
  return true;
}

const RegValue* FindValue(const RegKey& key, std::string_view name) {
  for (const RegValue& value : key.values) {
    if (NamesEqual(value.name, name)) return &value;
  }
  return nullptr;
}

void SetValue(RegKey& key, std::string_view name, uint32_t type, const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  for (RegValue& value : key.values) {
    // An existing value keeps its place and the case of its name, as on Windows.
    if (NamesEqual(value.name, name)) {
      value.type = type;
      value.data = std::move(bytes);
      return;
    }
  }
  key.values.push_back(RegValue{std::string(name), type, std::move(bytes)});
}

void SetStringValue(RegKey& key, std::string_view name, std::string_view text) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  SetValue(key, name, REG_SZ, bytes.data(), bytes.size());
}

}  // namespace sim
