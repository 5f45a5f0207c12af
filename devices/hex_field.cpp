#include "devices/hex_field.h"

namespace {

// -1 for anything that is not a hexadecimal digit.
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ReadHexField(const char* text, int count, uint32_t* value) {
  uint32_t result = 0;
  for (int i = 0; i < count; ++i) {
    // The NUL is not a digit, so nothing after the end of the text is read.
    const int digit = HexDigit(text[i]);
    if (digit < 0) return false;
    result = result * 16 + static_cast<uint32_t>(digit);
  }
  *value = result;
  return true;
}

int32_t ParseHexField(const char* text, int count) {
  uint32_t value = 0;
  return ReadHexField(text, count, &value) ? static_cast<int32_t>(value) : 0;
}
