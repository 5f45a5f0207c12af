#include "install/registry_values.h"

#include <cstring>

#include "platform/text.h"
#include "records/records.h"

LSTATUS CreateRecordKey(HKEY parent, const char* name, HKEY* key) {
  HKEY created = nullptr;
  const LSTATUS status = RegCreateKeyExA(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                         nullptr, &created, nullptr);
  if (status == ERROR_SUCCESS) *key = created;
  return status;
}

LSTATUS SetRecordText(HKEY key, const char* valueName, const char* text) {
  char data[kRecordValueLength] = {};
  if (!TextCopy(data, text)) return static_cast<LSTATUS>(ERROR_INVALID_PARAMETER);
  return RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), sizeof data);
}

LSTATUS SetEntryText(HKEY key, const char* valueName, const char* text) {
  return RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(std::strlen(text)));
}

LSTATUS SetEntryVersion(HKEY key, const char* version) {
  return RegSetValueExA(key, kDisplayVersionValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                        static_cast<DWORD>(std::strlen(version) + 1));
}
