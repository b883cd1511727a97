// Server handles of groups and items: 32-bit, never 0, and not handed out
// twice while the server lives, so a stale or made-up handle finds nothing
// instead of an object. Walks go in the order the handles were issued.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>

namespace vrt::opc {

// One counter per server issues the handles of its groups and their items.
class HandleIssuer {
 public:
  // 0 once all 2^32 - 1 handles are used up.
  std::uint32_t Next() {
    std::uint32_t current = next_.load();
    do {
      if (current == 0) return 0;
    } while (!next_.compare_exchange_weak(current, current + 1));
    return current;
  }

 private:
  std::atomic<std::uint32_t> next_{1};
};

template <typename Value>
class HandleTable {
 public:
  bool Add(std::uint32_t handle, Value value) {
    if (handle == 0) return false;
    return entries_.emplace(handle, std::move(value)).second;
  }
  Value* Find(std::uint32_t handle) {
    auto found = entries_.find(handle);
    return found == entries_.end() ? nullptr : &found->second;
  }
  // Takes the entry out; false for an unknown handle.
  bool Remove(std::uint32_t handle, Value* removed = nullptr) {
    auto found = entries_.find(handle);
    if (found == entries_.end()) return false;
    if (removed != nullptr) *removed = std::move(found->second);
    entries_.erase(found);
    return true;
  }
  std::size_t Size() const { return entries_.size(); }
  bool Empty() const { return entries_.empty(); }
  void Clear() { entries_.clear(); }

  // Oldest handle first.
  auto begin() { return entries_.begin(); }
  auto end() { return entries_.end(); }

 private:
  std::map<std::uint32_t, Value> entries_;
};

}  // namespace vrt::opc
