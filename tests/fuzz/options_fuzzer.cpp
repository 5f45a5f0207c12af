// The options against a plain model: "/u", "/au" outside the first "/inf=" argument, which keeps 511.
#include <cctype>
#include <cstring>
#include <string>

#include "app/options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string tail = std::string(reinterpret_cast<const char*>(data), size).c_str();
  const size_t option = tail.find("/inf="), none = std::string::npos;
  size_t begin = option + 5, end = option;
  if (option != none) {
    while (begin < tail.size() && std::isspace(static_cast<unsigned char>(tail[begin]))) ++begin;
    for (end = begin; end < tail.size() && !std::isspace(static_cast<unsigned char>(tail[end]));) ++end;
  }
  const std::string searched = option == none ? tail : tail.substr(0, begin) + '\0' + tail.substr(end);
  const RunMode mode = searched.find("/u") != none ? RunMode::Uninstall
                       : option != none            ? RunMode::SingleInf
                                                   : RunMode::Default;
  const std::string kept =
      mode == RunMode::SingleInf ? tail.substr(begin, std::min<size_t>(end - begin, 511)) + '\0' : "";
  // The argument's buffer of 512 between guards.
  char memory[600];
  std::memset(memory, 'Z', sizeof memory);
  const CommandOptions options = ReadCommandOptions(tail.c_str(), memory + 8, 512);
  if (options.mode != mode || options.recordMode != (searched.find("/au") != none) ||
      std::string(memory, sizeof memory) != std::string(8, 'Z') + kept + std::string(592 - kept.size(), 'Z'))
    __builtin_trap();
  return 0;
}
