// Hexadecimal fields of fixed width: the vendor and device digits inside a device
// instance identifier, and the names of the supported-device list.
#pragma once

#include <cstdint>

// The first `count` characters of `text` read as a hexadecimal number. Any other
// character among them, the terminating NUL included, makes the whole field 0, so
// the parse never reads past the end of the text.
int32_t ParseHexField(const char* text, int count);

// Like ParseHexField, but tells a field of valid digits (which may be 0) from one that
// is not a field at all: false, and `value` untouched, when any of the first `count`
// characters is not a hexadecimal digit.
bool ReadHexField(const char* text, int count, uint32_t* value);
