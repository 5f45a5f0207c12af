// The whole state of the open simulated machine - every registry key and value, every
// folder, file and file attribute on its drives - as flat entries that two states can
// be compared by, and the test of whether a difference lies within what the installer
// may change.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

// Entries are named "key HKLM path", "value HKLM path : name", "folder C:\path",
// "file C:\path" and "attributes C:\path"; the text is the value's type and bytes, the
// file's content or the attribute bits.
using MachineState = std::map<std::string, std::string>;

MachineState CaptureMachineState();

enum class ChangeKind { kAdded, kRemoved, kModified };

struct Change {
  std::string entry;
  ChangeKind kind;
};

std::vector<Change> Differences(const MachineState& before, const MachineState& after);
std::string Describe(const Change& change);
// Every difference, one a line, for a failure message; "" when there is none.
std::string DescribeAll(const std::vector<Change>& changes);

// What one run of the installer may change: its own keys, folders, files, devices and
// service, and nothing else.
struct ProductFootprint {
  // The uninstall mode also removes the "Lumora" Add/Remove entry.
  bool uninstall = false;
  // Instance identifiers of the present devices that the installer supports.
  std::set<std::string> ownDevices;
  // Stored INF paths named by the records at the start of the run; they and their PNF
  // files may be deleted.
  std::set<std::string> recordedInfs;
  // Contents that a copy the installer puts into the INF store may have.
  std::set<std::string> packageInfContents;
  // The install folder, without its trailing backslash; the folder above it may be
  // created too.
  std::string installFolder = "C:\\Program Files\\Orvix\\qnetprep";
  // Names of the files that staging copies into the install folder (and whose
  // attributes it clears there).
  std::set<std::string> stagedNames;
};

// The changes that lie outside the footprint; `after` is the state the run left.
std::vector<Change> ChangesOutsideFootprint(const std::vector<Change>& changes, const MachineState& after,
                                            const ProductFootprint& footprint);
