#include "app/command_tail.h"

#include "platform/platform.h"

namespace {

// Control characters and the blank; compared as unsigned, so that a letter above 127
// never counts as one.
bool IsBlankOrControl(unsigned char c) {
  return c <= ' ';
}

// Past a quoted name and its closing quote. The second byte of a double-byte
// character may have the quote's code and never closes it; a quote that is never
// closed takes the whole line.
const char* SkipQuotedName(const char* at) {
  for (++at; *at != '\0'; ++at) {
    if (*at == '"') return at + 1;
    if (IsDBCSLeadByte(static_cast<BYTE>(*at)) && at[1] != '\0') ++at;
  }
  return at;
}

}  // namespace

const char* CommandTailOf(const char* commandLine) {
  if (commandLine == nullptr) return "";
  const char* at = commandLine;
  if (*at == '"') {
    at = SkipQuotedName(at);
  } else {
    while (!IsBlankOrControl(static_cast<unsigned char>(*at))) ++at;
  }
  while (*at != '\0' && IsBlankOrControl(static_cast<unsigned char>(*at))) ++at;
  return at;
}
