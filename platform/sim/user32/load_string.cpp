// USER32 LoadStringA over the same texts that the resource script compiles into the
// Windows program, so both sides load the same table.
#include <cstring>
#include <string>

#include "platform/sim/calls.h"
#include "platform/sim/machine.h"
#include "resources/string_ids.h"

namespace {

struct StringEntry {
  UINT id;
  const char* text;
};

#define QNETPREP_STRING(id, text) {id, text},
constexpr StringEntry kStringTable[] = {
#include "resources/string_table.def"
};
#undef QNETPREP_STRING

}  // namespace

int WINAPI LoadStringA(HINSTANCE /*instance*/, UINT id, LPSTR buffer, int bufferMax) {
  SIM_CALL(LoadStringA, id);
  // Resources hold strings in blocks of 16; an id whose block is missing fails to load
  // with an error, while a gap in a present block just reads as empty.
  bool blockExists = false;
  const char* text = nullptr;
  for (const StringEntry& entry : kStringTable) {
    blockExists = blockExists || entry.id >> 4 == id >> 4;
    if (entry.id == id && text == nullptr) text = entry.text;
  }
  if (!blockExists) sim::TheMachine().lastError = ERROR_RESOURCE_NAME_NOT_FOUND;
  const size_t length = text == nullptr ? 0 : std::strlen(text);
  const size_t copied = length < static_cast<size_t>(bufferMax) ? length : static_cast<size_t>(bufferMax) - 1;
  if (copied > 0) std::memcpy(buffer, text, copied);
  buffer[copied] = '\0';
  return static_cast<int>(copied);
}
