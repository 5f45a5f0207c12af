#pragma once

#include "app/run_state.h"

// Reads the current folder into state.SourceFolder and stages the package from it
// (StagePackageFiles); in RecordMode also the program's own image (StageOwnImage).
// Needs the strings loaded. False, with nothing staged and an empty source folder,
// when the current folder cannot be read whole.
bool StagePackage(RunState& state);

// Creates the install folder under Program Files, leaves its path (with a trailing
// backslash) in state.InstallFolder, and copies the package files into it from
// state.SourceFolder: first the INF argument of the single-INF mode, then the fixed
// list. A file already staged is replaced. When the install folder's path
// cannot be composed, state.InstallFolder is left empty and nothing is copied.
void StagePackageFiles(RunState& state);

// Copies sourcePrefix + fileName to installFolder + fileName, replacing the file there;
// clears the destination's read-only, hidden and system attributes first. Silent: a
// missing source, a file that cannot be replaced (in use) or a path that does not fit
// just copies nothing.
void CopyPackageFile(const char* installFolder, const char* sourcePrefix, const char* fileName);
