// Fuzzes the reading of the command-line tail against a plain model of the options:
// "/u" and "/au" count anywhere but inside the argument of the first "/inf=", which
// runs from after the white space that follows it to the next white space and keeps
// at most 511 characters. Nothing is written outside the argument buffer.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/options.h"
#include "records/records.h"

namespace {

constexpr char kUntouched = 0x5A;
constexpr size_t kGuard = 64;

bool IsScanSpace(char c) {
  return std::strchr(" \t\n\v\f\r", c) != nullptr && c != '\0';
}

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The tail is text: it ends at its first NUL, as the one WinMain receives does.
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string tail = bytes.substr(0, bytes.find('\0'));

  size_t argumentBegin = std::string::npos;
  size_t argumentEnd = std::string::npos;
  const size_t option = tail.find("/inf=");
  if (option != std::string::npos) {
    argumentBegin = option + 5;
    while (argumentBegin < tail.size() && IsScanSpace(tail[argumentBegin])) ++argumentBegin;
    argumentEnd = argumentBegin;
    while (argumentEnd < tail.size() && !IsScanSpace(tail[argumentEnd])) ++argumentEnd;
  }
  const std::string searched =
      option == std::string::npos ? tail : tail.substr(0, argumentBegin) + '\0' + tail.substr(argumentEnd);
  const bool uninstall = searched.find("/u") != std::string::npos;
  const bool record = searched.find("/au") != std::string::npos;

  // The argument buffer between two guards that must stay as they are.
  char memory[kGuard + kTextCapacity + kGuard];
  std::memset(memory, kUntouched, sizeof memory);
  char* argument = memory + kGuard;
  const CommandOptions options = ReadCommandOptions(tail.c_str(), argument, kTextCapacity);

  Require(options.recordMode == record);
  if (uninstall) {
    Require(options.mode == RunMode::Uninstall);
  } else if (option != std::string::npos) {
    Require(options.mode == RunMode::SingleInf);
    const size_t length = std::min<size_t>(argumentEnd - argumentBegin, kTextCapacity - 1);
    Require(std::memchr(argument, '\0', kTextCapacity) != nullptr);
    Require(std::strlen(argument) == length);
    Require(std::memcmp(argument, tail.data() + argumentBegin, length) == 0);
  } else {
    Require(options.mode == RunMode::Default);
  }
  if (options.mode != RunMode::SingleInf) {
    for (size_t i = kGuard; i < kGuard + kTextCapacity; ++i) Require(memory[i] == kUntouched);
  }
  for (size_t i = 0; i < kGuard; ++i) {
    Require(memory[i] == kUntouched);
    Require(memory[kGuard + kTextCapacity + i] == kUntouched);
  }
  return 0;
}
