// The open handles of one kind on the simulated machine: registry keys, device sets,
// service handles. A handle is an opaque number that is never handed out twice, so one
// used after it was closed fails as unknown instead of reaching whatever was opened
// next. Opening a machine closes every handle of the one before.
#pragma once

#include <cstdint>
#include <map>
#include <utility>

namespace sim {

class HandleTableBase {
 public:
  HandleTableBase(const HandleTableBase&) = delete;
  HandleTableBase& operator=(const HandleTableBase&) = delete;
  virtual void Clear() = 0;

 protected:
  HandleTableBase();  // registers the table for ClearHandleTables
  ~HandleTableBase() = default;
};

// Closes the handles of every table; OpenMachine calls it.
void ClearHandleTables();

template <typename Handle, typename Object>
class HandleTable final : public HandleTableBase {
 public:
  // Each kind counts from its own first value, so a handle of one kind is unknown to another.
  explicit HandleTable(uintptr_t first) : next_(first) {}

  Handle Add(Object object) {
    const uintptr_t value = next_;
    next_ += 4;
    open_.emplace(value, std::move(object));
    return reinterpret_cast<Handle>(value);
  }
  Object* Find(Handle handle) {
    const auto found = open_.find(reinterpret_cast<uintptr_t>(handle));
    return found == open_.end() ? nullptr : &found->second;
  }
  bool Close(Handle handle) { return open_.erase(reinterpret_cast<uintptr_t>(handle)) == 1; }
  int Count() const { return static_cast<int>(open_.size()); }
  void Clear() override { open_.clear(); }

 private:
  std::map<uintptr_t, Object> open_;
  uintptr_t next_;
};

}  // namespace sim
