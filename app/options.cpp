#include "app/options.h"

#include <cstring>

#include "platform/text.h"

namespace {

constexpr const char kInfOption[] = "/inf=";
constexpr size_t kInfOptionLength = sizeof(kInfOption) - 1;

// The white space that the "%s" scan format skips and stops at.
bool IsScanSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Where the argument of "/inf=" lies in the tail: [begin, end).
struct Span {
  const char* begin;
  const char* end;
};

Span FindInfArgument(const char* infOption) {
  const char* begin = infOption + kInfOptionLength;
  while (IsScanSpace(*begin)) ++begin;
  const char* end = begin;
  while (*end != '\0' && !IsScanSpace(*end)) ++end;
  return {begin, end};
}

// Substring search over [begin, end) that may not run past `end`.
bool ContainsWithin(const char* begin, const char* end, const char* needle) {
  const size_t needleLength = std::strlen(needle);
  for (const char* at = begin; at + needleLength <= end; ++at) {
    if (std::memcmp(at, needle, needleLength) == 0) return true;
  }
  return false;
}

// The options are searched everywhere except inside the INF argument. Neither "/u" nor
// "/au" can straddle the argument's edges: the argument follows "/inf=" and white
// space, and ends at white space or the end of the tail.
bool ContainsOption(const char* tail, const Span* skipped, const char* option) {
  const char* tailEnd = tail + std::strlen(tail);
  if (skipped == nullptr) return ContainsWithin(tail, tailEnd, option);
  return ContainsWithin(tail, skipped->begin, option) || ContainsWithin(skipped->end, tailEnd, option);
}

}  // namespace

CommandOptions ReadCommandOptions(const char* tail, char* infArgument, size_t infArgumentCapacity) {
  const char* infOption = std::strstr(tail, kInfOption);
  Span argument{};
  const Span* skipped = nullptr;
  if (infOption != nullptr) {
    argument = FindInfArgument(infOption);
    skipped = &argument;
  }

  CommandOptions options{RunMode::Default, ContainsOption(tail, skipped, "/au")};
  if (ContainsOption(tail, skipped, "/u")) {
    options.mode = RunMode::Uninstall;
  } else if (infOption != nullptr) {
    options.mode = RunMode::SingleInf;
    // A longer argument keeps its first capacity - 1 characters; no path can hold it anyway.
    TextCopyPrefix(infArgument, infArgumentCapacity, argument.begin,
                   static_cast<size_t>(argument.end - argument.begin));
  }
  return options;
}
