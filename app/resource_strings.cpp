#include "app/resource_strings.h"

#include <algorithm>
#include <iterator>

#include "platform/platform.h"
#include "resources/string_ids.h"

bool LoadResourceStrings(RunState& state) {
  // Entry 11 comes right after entry 4, before the service name: the order decides
  // which texts a damaged table still yields.
  struct Entry {
    UINT id;
    char* buffer;
  };
  const Entry entries[] = {
      {IDS_VENDOR_KEY, state.VendorKey},
      {IDS_PRODUCT_NAME, state.ProductName},
      {IDS_PARAMETERS, state.Parameters},
      {IDS_RENAMED_INF, state.RenamedInf},
      {IDS_RENAMED_INF1, state.RenamedInf1},
      {IDS_SERVICE_NAME, state.ServiceName},
      {IDS_UNINSTALL_KEY, state.UninstallKey},
      {IDS_DISPLAY_NAME, state.DisplayName},
      {IDS_UNINSTALL_COMMAND, state.UninstallCommand},
      {IDS_VERSION, state.Version},
  };
  HMODULE self = GetModuleHandleA(nullptr);
  // all_of stops at the first entry that loads nothing; the later ones keep their text.
  return std::all_of(std::begin(entries), std::end(entries), [self](const Entry& entry) {
    return LoadStringA(self, entry.id, entry.buffer, static_cast<int>(kTextCapacity)) > 0;
  });
}
