#include "tests/reliability/machine_state.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/sim/file_attributes.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_control.h"

namespace {

namespace fs = std::filesystem;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  char pair[4];
  for (uint8_t byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

void CaptureKey(const sim::RegKey& key, const std::string& path, MachineState* state) {
  (*state)["key " + path] = "";
  for (const sim::RegValue& value : key.values) {
    (*state)["value " + path + " : " + value.name] = std::to_string(value.type) + " " + Hex(value.data);
  }
  for (const auto& subkey : key.subkeys) {
    CaptureKey(*subkey, path.empty() ? subkey->name : path + "\\" + subkey->name, state);
  }
}

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// "drive_c/Windows/INF" below the machine folder is C:\Windows\INF.
std::string WindowsName(const fs::path& relative) {
  std::string name;
  bool first = true;
  for (const fs::path& part : relative) {
    if (first) {
      const std::string drive = part.string();
      name = std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(drive.back())))) + ":";
      first = false;
    } else {
      name += "\\" + part.string();
    }
  }
  return first ? name : (name.size() == 2 ? name + "\\" : name);
}

void CaptureDrives(MachineState* state) {
  const fs::path machine = sim::MachineFolder();
  std::error_code error;
  for (const fs::directory_entry& drive : fs::directory_iterator(machine, error)) {
    if (!drive.is_directory() || drive.path().filename().string().rfind("drive_", 0) != 0) continue;
    for (auto it = fs::recursive_directory_iterator(drive.path(), error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
      const std::string name = WindowsName(fs::relative(it->path(), machine));
      if (it->is_directory()) {
        (*state)["folder " + name] = "";
        continue;
      }
      (*state)["file " + name] = ReadWhole(it->path());
      const DWORD bits = sim::StoredAttributes(it->path().string());
      if (bits != 0) (*state)["attributes " + name] = std::to_string(bits);
    }
  }
}

// Splits "kind rest" and upper-cases the rest, which names a key, value or file.
void SplitEntry(const std::string& entry, std::string* kind, std::string* name) {
  const size_t space = entry.find(' ');
  *kind = entry.substr(0, space);
  *name = Upper(entry.substr(space + 1));
}

bool Within(const std::string& name, const std::string& root) {
  return name == root || name.rfind(root + "\\", 0) == 0;
}

// The key that a "value" entry belongs to.
std::string KeyOf(const std::string& kind, const std::string& name) {
  return kind == "value" ? name.substr(0, name.find(" : ")) : name;
}

const char* const kUninstallList = "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\UNINSTALL";
const char* const kEnumKey = "SYSTEM\\CURRENTCONTROLSET\\ENUM";
const char* const kInfStore = "C:\\WINDOWS\\INF";

bool OwnRegistryChange(const std::string& kind, const std::string& name, ChangeKind change,
                       const ProductFootprint& footprint) {
  const std::string key = KeyOf(kind, name);
  // The vendor key itself may be created; what else it holds belongs to others.
  if (kind == "key" && key == "SOFTWARE\\ORVIX") return change == ChangeKind::kAdded;
  if (Within(key, "SOFTWARE\\ORVIX\\QNETPREP")) return true;
  if (Within(key, std::string(kUninstallList) + "\\QNETPREP")) return true;
  if (footprint.uninstall && Within(key, std::string(kUninstallList) + "\\LUMORA")) {
    return change == ChangeKind::kRemoved;
  }
  if (Within(key, "SYSTEM\\CURRENTCONTROLSET\\SERVICES\\RX90K")) return change == ChangeKind::kRemoved;
  for (const std::string& device : footprint.ownDevices) {
    const std::string instance = std::string(kEnumKey) + "\\" + Upper(device);
    // The device key goes with its last instance.
    const std::string deviceKey = instance.substr(0, instance.rfind('\\'));
    if (Within(key, instance) || (kind == "key" && key == deviceKey)) return change == ChangeKind::kRemoved;
  }
  return false;
}

bool IsStoredName(const std::string& name) {
  if (name.rfind(std::string(kInfStore) + "\\OEM", 0) != 0) return false;
  const std::string extension = name.size() > 4 ? name.substr(name.size() - 4) : "";
  return extension == ".INF" || extension == ".PNF";
}

bool OwnFileChange(const std::string& kind, const std::string& name, ChangeKind change,
                   const MachineState& after, const ProductFootprint& footprint) {
  const std::string installFolder = Upper(footprint.installFolder);
  if (kind == "folder" && name == installFolder.substr(0, installFolder.rfind('\\'))) {
    return change == ChangeKind::kAdded;
  }
  if (Within(name, installFolder)) {
    // Staging adds files and clears the attributes of staged ones; it never replaces
    // or deletes a file that is there.
    if (change == ChangeKind::kAdded) return true;
    if (kind != "attributes" || change != ChangeKind::kRemoved) return false;
    const std::string relative = name.substr(installFolder.size() + 1);
    for (const std::string& staged : footprint.stagedNames) {
      if (Upper(staged) == relative) return true;
    }
    return false;
  }
  if (name == "C:\\WINDOWS\\SYSTEM32\\QNETPREP.EXE") return true;
  if (!IsStoredName(name)) return false;
  // A recorded copy may go; a new copy of a package INF, with its PNF, may come. A
  // stored name that is reused for a new copy is both.
  const std::string inf = name.substr(0, name.size() - 4) + ".INF";
  bool recorded = false;
  for (const std::string& path : footprint.recordedInfs) recorded = recorded || Upper(path) == inf;
  if (change == ChangeKind::kRemoved) return recorded;
  if (kind == "attributes") return false;
  bool packageCopy = false;
  for (const auto& [entry, content] : after) {
    std::string afterKind;
    std::string afterName;
    SplitEntry(entry, &afterKind, &afterName);
    if (afterKind == "file" && afterName == inf)
      packageCopy = footprint.packageInfContents.count(content) != 0;
  }
  return packageCopy && (change == ChangeKind::kAdded || recorded);
}

}  // namespace

MachineState CaptureMachineState() {
  MachineState state;
  CaptureKey(*sim::TheMachine().localMachine, "", &state);
  CaptureDrives(&state);
  return state;
}

std::vector<Change> Differences(const MachineState& before, const MachineState& after) {
  std::vector<Change> changes;
  for (const auto& [entry, text] : before) {
    const auto found = after.find(entry);
    if (found == after.end()) {
      changes.push_back({entry, ChangeKind::kRemoved});
    } else if (found->second != text) {
      changes.push_back({entry, ChangeKind::kModified});
    }
  }
  for (const auto& [entry, text] : after) {
    if (before.count(entry) == 0) changes.push_back({entry, ChangeKind::kAdded});
  }
  return changes;
}

std::string Describe(const Change& change) {
  const char* kind = change.kind == ChangeKind::kAdded     ? "added"
                     : change.kind == ChangeKind::kRemoved ? "removed"
                                                           : "modified";
  return std::string(kind) + ": " + change.entry;
}

std::string DescribeAll(const std::vector<Change>& changes) {
  std::string text;
  for (const Change& change : changes) text += Describe(change) + "\n";
  return text;
}

std::vector<Change> ChangesOutsideFootprint(const std::vector<Change>& changes, const MachineState& after,
                                            const ProductFootprint& footprint) {
  std::vector<Change> outside;
  for (const Change& change : changes) {
    std::string kind;
    std::string name;
    SplitEntry(change.entry, &kind, &name);
    const bool registry = kind == "key" || kind == "value";
    const bool own = registry ? OwnRegistryChange(kind, name, change.kind, footprint)
                              : OwnFileChange(kind, name, change.kind, after, footprint);
    if (!own) outside.push_back(change);
  }
  return outside;
}
