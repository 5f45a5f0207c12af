#include "platform/sim/handle_table.h"

#include <vector>

namespace sim {
namespace {

std::vector<HandleTableBase*>& Tables() {
  static std::vector<HandleTableBase*> tables;
  return tables;
}

}  // namespace

HandleTableBase::HandleTableBase() {
  Tables().push_back(this);
}

void ClearHandleTables() {
  for (HandleTableBase* table : Tables()) table->Clear();
}

}  // namespace sim
