#include "platform/text.h"

#include <cstring>

bool TextCopy(char* dest, size_t capacity, const char* src) {
  const size_t length = std::strlen(src);
  if (capacity == 0 || length >= capacity) return false;
  std::memmove(dest, src, length + 1);
  return true;
}

bool TextAppend(char* dest, size_t capacity, const char* src) {
  const size_t used = strnlen(dest, capacity);
  if (used >= capacity) return false;
  const size_t length = std::strlen(src);
  if (length >= capacity - used) return false;
  std::memmove(dest + used, src, length + 1);
  return true;
}

void TextCopyPrefix(char* dest, size_t capacity, const char* src, size_t limit) {
  if (capacity == 0) return;
  size_t length = strnlen(src, limit);
  if (length > capacity - 1) length = capacity - 1;
  std::memmove(dest, src, length);
  dest[length] = '\0';
}

bool TextEndsWith(const char* text, const char* suffix) {
  const size_t textLength = std::strlen(text);
  const size_t suffixLength = std::strlen(suffix);
  return suffixLength <= textLength && std::strcmp(text + textLength - suffixLength, suffix) == 0;
}
