#pragma once

#include "app/run_state.h"

// Creates the install folder under Program Files, leaves its path (with a trailing
// backslash) in state.InstallFolder, and copies the package files into it from
// state.SourceFolder: first the INF argument of the single-INF mode, then the fixed
// list. A file already staged is never replaced. When the install folder's path
// cannot be composed, state.InstallFolder is left empty and nothing is copied.
void StagePackageFiles(RunState& state);

// Copies sourcePrefix + fileName to installFolder + fileName unless the destination
// exists; clears the destination's read-only, hidden and system attributes first.
// Silent: a missing source or a path that does not fit just copies nothing.
void CopyPackageFile(const char* installFolder, const char* sourcePrefix, const char* fileName);
