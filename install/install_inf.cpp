#include "install/install_inf.h"

bool InstallInf(RunState& /*state*/, const char* /*infName*/) { return false; }
