#pragma once

#include <cstdint>

#include "app/run_state.h"
#include "platform/platform.h"

// Removes every present, supported device of the class and then deletes the driver's
// service. Returns the number of devices removed.
int32_t RemoveDevicesOfClass(RunState& state, const GUID& classGuid);
