#pragma once

// Deletes a stored INF file and, when its path ends in ".inf", the precompiled
// ".pnf" file that the system keeps beside it. Attributes are cleared first; a
// failure to clear them other than "not found" is reported on standard output and the
// deletion is attempted all the same.
void DeleteInfAndPnf(const char* infPath);
