// The simulated registry: a tree of keys held in memory while a process runs and kept
// in the machine folder as a REGEDIT4 file between runs. Names match without regard
// to case and keep the case they were created with. Subkeys are kept in the order
// Windows enumerates them (sorted without regard to case); values in the order they
// were first set.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct RegValue {
  std::string name;
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

struct RegKey {
  std::string name;
  RegKey* parent = nullptr;
  // Set when the key was deleted while a handle to it was still open; such a handle
  // then fails with ERROR_KEY_DELETED, as on Windows.
  bool deleted = false;
  std::vector<RegValue> values;
  std::vector<std::shared_ptr<RegKey>> subkeys;
};

bool NamesEqual(std::string_view a, std::string_view b);

std::shared_ptr<RegKey> FindSubkey(const RegKey& key, std::string_view name);
// The named subkey, created in its sorted place when missing.
std::shared_ptr<RegKey> CreateSubkey(RegKey& key, std::string_view name);
// Follows a path of one or more levels separated by backslashes; nullptr when any
// level is missing. An empty path names `key` itself; repeated and trailing
// backslashes separate nothing.
std::shared_ptr<RegKey> FindKeyPath(const std::shared_ptr<RegKey>& key, std::string_view path);
// Creates every missing level of the path and returns the last one.
std::shared_ptr<RegKey> CreateKeyPath(const std::shared_ptr<RegKey>& key, std::string_view path);
// Removes the named subkey with everything below it and marks each removed key
// `deleted`; false when there is none.
bool DeleteSubkeyTree(RegKey& key, std::string_view name);

const RegValue* FindValue(const RegKey& key, std::string_view name);
void SetValue(RegKey& key, std::string_view name, uint32_t type, const uint8_t* data, size_t size);
void SetStringValue(RegKey& key, std::string_view name, std::string_view text);  // REG_SZ, text + NUL

// REGEDIT4 text of everything below `root`, whose own path is `rootPath`
// (for example "HKEY_LOCAL_MACHINE"). Types and exact data lengths survive a round trip.
std::string FormatRegistryFile(const RegKey& root, const std::string& rootPath);
// Parses REGEDIT4 text into `root`; keys outside `rootPath` are ignored. False, with a
// message, on text it cannot read.
bool ParseRegistryFile(const std::string& text, RegKey& root, const std::string& rootPath,
                       std::string* error);

}  // namespace sim
