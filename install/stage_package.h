#pragma once

#include "app/run_state.h"

// Reads the current folder into state.SourceFolder and stages the package from it
// (StagePackageFiles); in RecordMode also the program's own image (StageOwnImage).
// Needs the strings loaded. False, with nothing staged and an empty source folder,
// when the current folder cannot be read whole.
bool StagePackage(RunState& state);

// Makes the install folder under Program Files the program's own (PrepareInstallFolder), leaves
// its path (with a trailing backslash) in state.InstallFolder, and copies the package files into
// it from state.SourceFolder: first the INF argument of the single-INF mode, then the fixed list.
// When the install folder's path cannot be composed, or a folder is refused,
// state.InstallFolder is left empty and nothing is copied.
void StagePackageFiles(RunState& state);

// Copies sourcePrefix + fileName to installFolder + fileName as a new file (CopyAsNewFile).
// Silent: a missing source, a file that cannot be deleted (in use) or a path that does not fit
// just copies nothing.
void CopyPackageFile(const char* installFolder, const char* sourcePrefix, const char* fileName);

// Replaces `destination` with a new file copied from `source`: clears its attributes, deletes
// it, and copies only when it is gone. A file left there before keeps its owner and access
// entries through a copy over it, and its owner could change it between the staging and the
// self-copy; a new file takes the folder's entries. A link is deleted, not what it names. A
// file is not copied onto itself (the same path, ASCII letters in any case).
void CopyAsNewFile(const char* source, const char* destination);
