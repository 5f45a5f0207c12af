#pragma once

#include "app/run_state.h"

// Whether a stored INF is one that this program pre-installed, by what the system says
// it was installed from: net7341a.inf, net73417.inf, or an INF that the install folder
// holds (what a single-INF install staged), names compared without regard to ASCII
// case. A slot may name another vendor's package (the system hands a removed package's
// oem<N>.inf number to the next one) or a system INF: those are not ours. False also
// when the system cannot say.
bool IsPackageStoredInf(const RunState& state, const char* storedInfPath);
