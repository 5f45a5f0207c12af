// The registry writes of an install, with the stored lengths that readers rely on.
#pragma once

#include "platform/platform.h"

// Creates (or opens) one level under `parent` as every record key is created:
// non-volatile, no class, full access, default security. `*key` is set only on success.
LSTATUS CreateRecordKey(HKEY parent, const char* name, HKEY* key);

// Stores `text` as REG_SZ of exactly kRecordValueLength bytes: the text, its NUL,
// then NUL bytes. ERROR_INVALID_PARAMETER when the text does not fit.
LSTATUS SetRecordText(HKEY key, const char* valueName, const char* text);

// Stores `text` as REG_SZ with the text's length in bytes and no NUL, as the
// Add/Remove list's entries are kept.
LSTATUS SetEntryText(HKEY key, const char* valueName, const char* text);

// Stores the version as REG_SZ with its NUL ("DisplayVersion"), as Windows writes text values.
LSTATUS SetEntryVersion(HKEY key, const char* version);
