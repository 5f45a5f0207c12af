// Bounded ANSI text in fixed buffers. Every helper refuses to overflow: when the
// result would not fit, it reports false and leaves the destination as it was, so a
// composed path is never silently cut into a shorter path that names another file.
#pragma once

#include <cstddef>

bool TextCopy(char* dest, size_t capacity, const char* src);
bool TextAppend(char* dest, size_t capacity, const char* src);
// Copies at most `limit` characters of src and always terminates; used only where
// keeping a prefix is the documented behaviour (the INF argument) and for a fixed-size
// field of the system's that may lack its NUL.
void TextCopyPrefix(char* dest, size_t capacity, const char* src, size_t limit);
bool TextEndsWith(const char* text, const char* suffix);
// ASCII letters compared without regard to case, every other byte as it is: what a
// fixed name of the program matches does not depend on the system's code page.
bool TextStartsWithIgnoringAsciiCase(const char* text, const char* prefix);
bool TextEqualsIgnoringAsciiCase(const char* a, const char* b);

template <size_t N>
bool TextCopy(char (&dest)[N], const char* src) {
  return TextCopy(dest, N, src);
}

template <size_t N>
bool TextAppend(char (&dest)[N], const char* src) {
  return TextAppend(dest, N, src);
}

// dest = a + b (+ c); false and dest unchanged when the whole does not fit.
template <size_t N>
bool TextJoin(char (&dest)[N], const char* a, const char* b, const char* c = "") {
  char scratch[N];
  scratch[0] = '\0';
  if (!TextAppend(scratch, a) || !TextAppend(scratch, b) || !TextAppend(scratch, c)) return false;
  return TextCopy(dest, scratch);
}

// dest = folder + "\" + name, without doubling the backslash when the folder already
// ends with one (the root of a drive, "C:\"). False, and dest unchanged, when the
// whole path does not fit: a shortened path would name another file.
template <size_t N>
bool JoinPath(char (&dest)[N], const char* folder, const char* name) {
  const char* separator = TextEndsWith(folder, "\\") ? "" : "\\";
  return TextJoin(dest, folder, separator, name);
}

// Whether a name joined to a folder stays below it: no level of it may climb up. Names
// come from the command line and from the registry, and "..\..\Vendor\x.inf" would
// otherwise reach another product's folder or a system file.
bool StaysWithinFolder(const char* name);

// The part of `path` below `folder` when the path lies inside it, else nullptr. The
// folder is compared without regard to the case of ASCII letters only: a path that
// Windows would also take for one inside counts as outside, never the reverse.
const char* PathWithinFolder(const char* path, const char* folder);
