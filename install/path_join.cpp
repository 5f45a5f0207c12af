#include "install/path_join.h"

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
