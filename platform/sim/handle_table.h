// The open handles of one kind on the simulated machine: registry keys, device sets,
// service handles. A handle is an opaque number that is never handed out twice, so one
// used after it was closed cannot reach whatever was opened next. Opening a machine closes
// every handle of the one before.
#pragma once

#include <cstdint>
#include <map>
#include <utility>

namespace sim {

// Counts the machines opened: a table forgets the handles it gave out on an earlier one.
inline uint64_t& MachineGeneration() {
  static uint64_t generation = 0;
  return generation;
}

template <typename Handle, typename Object>
class HandleTable {
 public:
  // Each kind counts from its own first value, so a handle of one kind is unknown to another.
  explicit HandleTable(uintptr_t first) : next_(first) {}

  Handle Add(Object object) {
    const uintptr_t value = next_;
    next_ += 4;
    Open().emplace(value, std::move(object));
    return reinterpret_cast<Handle>(value);
  }
  // The installer passes only handles that it holds: an unknown one throws.
  Object* Find(Handle handle) { return &Open().at(reinterpret_cast<uintptr_t>(handle)); }
  bool Close(Handle handle) { return Open().erase(reinterpret_cast<uintptr_t>(handle)) == 1; }
  int Count() { return static_cast<int>(Open().size()); }

 private:
  std::map<uintptr_t, Object>& Open() {
    if (generation_ != MachineGeneration()) open_.clear();
    generation_ = MachineGeneration();
    return open_;
  }

  std::map<uintptr_t, Object> open_;
  uintptr_t next_;
  uint64_t generation_ = MachineGeneration();
};

}  // namespace sim
