// USER32 LoadStringA over the same texts that the resource script compiles into the
// Windows program, so both sides load the same table.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/sim/calls.h"
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

// The installer loads only the table's own texts, into buffers that hold each of them.
int WINAPI LoadStringA(HINSTANCE /*instance*/, UINT id, LPSTR buffer, int /*bufferMax*/) {
  SIM_CALL(LoadStringA, id);
  const StringEntry* entry = std::find_if(std::begin(kStringTable), std::end(kStringTable),
                                          [id](const StringEntry& candidate) { return candidate.id == id; });
  std::strcpy(buffer, entry->text);
  return static_cast<int>(std::strlen(entry->text));
}
