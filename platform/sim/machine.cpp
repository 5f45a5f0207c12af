#include "platform/sim/machine.h"

namespace sim {

Machine& TheMachine() {
  static Machine machine;
  return machine;
}

}  // namespace sim
