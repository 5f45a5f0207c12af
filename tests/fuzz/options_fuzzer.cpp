// Fuzzes the reading of the command-line tail against a plain model of the options:
// "/u" and "/au" count anywhere but inside the argument of the first "/inf=", which
// runs from after the white space that follows it to the next white space and keeps
// at most 511 characters. Nothing is written outside the argument buffer.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/options.h"
#include "records/records.h"

namespace {

constexpr char kUntouched = 0x5A;
constexpr size_t kGuard = 64;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The tail is text: it ends at its first NUL, as the one WinMain receives does.
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string tail = bytes.substr(0, bytes.find('\0'));

  const size_t option = tail.find("/inf=");
  size_t argumentBegin = option + 5, argumentEnd = option;
  if (option != std::string::npos) {
    while (argumentBegin < tail.size() && std::isspace(static_cast<unsigned char>(tail[argumentBegin])))
      ++argumentBegin;
    argumentEnd = argumentBegin;
    while (argumentEnd < tail.size() && !std::isspace(static_cast<unsigned char>(tail[argumentEnd])))
      ++argumentEnd;
  }
  const std::string searched =
      option == std::string::npos ? tail : tail.substr(0, argumentBegin) + '\0' + tail.substr(argumentEnd);

  // The argument buffer between two guards that must stay as they are.
  char memory[kGuard + kTextCapacity + kGuard];
  std::memset(memory, kUntouched, sizeof memory);
  char* argument = memory + kGuard;
  const CommandOptions options = ReadCommandOptions(tail.c_str(), argument, kTextCapacity);

  Require(options.recordMode == (searched.find("/au") != std::string::npos));
  if (searched.find("/u") != std::string::npos) {
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
  for (size_t i = 0; i < kGuard; ++i)
    Require(memory[i] == kUntouched && memory[kGuard + kTextCapacity + i] == kUntouched);
  return 0;
}
