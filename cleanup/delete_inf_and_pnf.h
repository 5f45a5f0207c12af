#pragma once

// Removes a stored INF file, the precompiled ".pnf" file that the system keeps beside
// it (when the path ends in ".inf") and, where the file stands directly in the system's
// INF folder, what the system installed with it (its catalog, its driver store copy),
// through the system's own uninstall.
//
// A record slot is registry data that anyone with administrator rights can have
// written: a path outside the INF folder names nothing to remove and is left alone
// entirely. Inside, attributes are cleared first (a failure other than "not found" is
// reported on standard output), then the system is asked, then both files are deleted
// whatever it did.
void DeleteInfAndPnf(const char* infPath);
