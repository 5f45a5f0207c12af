#pragma once

// Takes the program's own folder, and the current folder, out of the search for DLLs
// that are loaded later by name. The program runs elevated from a package folder that
// others may be able to write to, and the device installer loads helpers on demand in
// the middle of a run: a DLL planted beside the program must never be one of them.
// Uses SetDefaultDllDirectories (system folder only) where Windows has it, and
// otherwise SetDllDirectoryA(""), which at least drops the current folder. Nothing
// better is left to do when both fail, so the run goes on regardless.
void HardenDllSearch();
