// Where the package is staged: <Program Files>\Orvix\<product>\. Staging creates it; the
// uninstall only looks into it, so both compose it here, by one rule.
#pragma once

#include <cstddef>

#include "app/run_state.h"
#include "package/package_files.h"
#include "platform/platform.h"
#include "platform/text.h"

// "ProgramFiles", or the usual folder when the variable is absent or too long to read
// whole: a value that does not fit comes back as the size it needs, with no text.
void ReadProgramFilesFolder(char (&folder)[MAX_PATH]);

// Whether <Program Files>\Orvix\<product>\<name> is a file, the folder composed as
// staging composes it, but not created: an uninstall must not make it. A folder that is not
// trusted (FolderIsTrusted), the vendor's or the product's, holds nothing of ours.
bool InstallFolderHolds(const RunState& state, const char* name);

// <Program Files>\Orvix, the folder that holds the product's; false, and `vendorPath`
// unchanged, when the path does not fit.
template <size_t N>
bool ComposeVendorFolder(char (&vendorPath)[N]) {
  char programFilesFolder[MAX_PATH];
  ReadProgramFilesFolder(programFilesFolder);
  return JoinPath(vendorPath, programFilesFolder, kInstallVendorFolder);
}
