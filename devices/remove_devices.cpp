#include "devices/remove_devices.h"

int32_t RemoveDevicesOfClass(RunState& /*state*/, const GUID& /*classGuid*/) { return 0; }
