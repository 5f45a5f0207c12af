// Handles of the record keys, shared by the steps that open them.
#pragma once

#include <initializer_list>

#include "platform/platform.h"

// Closes every open key of the list in the order given (innermost first) and leaves each
// nullptr, so that a path that already closed some of them can call it again.
void CloseKeysInOrder(std::initializer_list<HKEY*> keys);
