#include "platform/text.h"

#include <algorithm>
#include <cstring>

bool TextCopy(char* dest, size_t capacity, const char* src) {
  const size_t length = std::strlen(src);
  // No capacity holds even the empty text.
  if (length >= capacity) return false;
  std::memmove(dest, src, length + 1);
  return true;
}

bool TextAppend(char* dest, size_t capacity, const char* src) {
  // A dest without a NUL within its capacity leaves no room, and nothing fits that.
  const size_t used = strnlen(dest, capacity);
  const size_t length = std::strlen(src);
  if (length >= capacity - used) return false;
  std::memmove(dest + used, src, length + 1);
  return true;
}

void TextCopyPrefix(char* dest, size_t capacity, const char* src, size_t limit) {
  if (capacity == 0) return;
  const size_t length = strnlen(src, std::min(limit, capacity - 1));
  std::memmove(dest, src, length);
  dest[length] = '\0';
}

bool TextEndsWith(const char* text, const char* suffix) {
  const size_t textLength = std::strlen(text);
  const size_t suffixLength = std::strlen(suffix);
  return suffixLength <= textLength && std::strcmp(text + textLength - suffixLength, suffix) == 0;
}

namespace {

char FoldAsciiCase(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool TextStartsWithIgnoringAsciiCase(const char* text, const char* prefix) {
  // A shorter text differs at its NUL, so the loop never reads past it.
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (FoldAsciiCase(*text) != FoldAsciiCase(*prefix)) return false;
  }
  return true;
}

bool TextEqualsIgnoringAsciiCase(const char* a, const char* b) {
  return TextStartsWithIgnoringAsciiCase(a, b) && a[std::strlen(b)] == '\0';
}

namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// Windows drops trailing dots and blanks from a path level, so ".. " and "..." climb
// as ".." does: any level made only of dots and blanks with two dots or more counts.
bool ClimbsUp(const char* level, const char* end) {
  int dots = 0;
  for (const char* at = level; at < end; ++at) {
    if (*at == '.') {
      ++dots;
    } else if (*at != ' ') {
      return false;
    }
  }
  return dots >= 2;
}

}  // namespace

bool StaysWithinFolder(const char* name) {
  const char* level = name;
  for (const char* at = name;; ++at) {
    if (*at != '\0' && !IsSeparator(*at)) continue;
    if (ClimbsUp(level, at)) return false;
    if (*at == '\0') return true;
    level = at + 1;
  }
}

const char* PathWithinFolder(const char* path, const char* folder) {
  const size_t folderLength = std::strlen(folder);
  if (folderLength == 0) return nullptr;
  // A shorter path differs at its NUL, so the loop never reads past it.
  for (size_t i = 0; i < folderLength; ++i) {
    if (FoldAsciiCase(path[i]) != FoldAsciiCase(folder[i])) return nullptr;
  }
  const char* below = path + folderLength;
  // "C:\Windows\INF.old\x" only starts like "C:\Windows\INF".
  if (!IsSeparator(folder[folderLength - 1])) {
    if (!IsSeparator(*below)) return nullptr;
    ++below;
  }
  if (*below == '\0' || !StaysWithinFolder(below)) return nullptr;
  return below;
}
