#pragma once

// Whether the program is a 32-bit process on 64-bit Windows. There it cannot remove
// devices (the device installer refuses a 32-bit caller), and its registry writes and
// files would land in the 32-bit views, where neither the system nor the Add/Remove
// command looks: half a job that leaves adapters without a driver. False where Windows
// cannot tell (IsWow64Process missing before XP SP2, or failing): a 32-bit Windows then.
bool RunsUnderWow64();
