// A growable stack of plain values on the process heap whose growth can fail
// without throwing: push reports failure instead.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "json/heap.h"

namespace json {

template <typename T>
class WorkStack {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  explicit WorkStack(std::int32_t capacity) : capacity_(capacity > 0 ? capacity : 1) {
    items_ = static_cast<T*>(Heap::process()->alloc(sizeof(T) * static_cast<std::size_t>(capacity_)));
    if (!items_) capacity_ = 0;
  }
  WorkStack(const WorkStack&) = delete;
  WorkStack& operator=(const WorkStack&) = delete;
  ~WorkStack() { Heap::process()->free(items_); }

  bool ok() const { return items_ != nullptr; }
  bool empty() const { return count_ == 0; }
  std::int32_t size() const { return count_; }
  T& top() { return items_[count_ - 1]; }
  T pop() { return items_[--count_]; }

  // Doubles the capacity when full.
  bool push(const T& value) {
    if (count_ == capacity_) {
      if (!items_ || capacity_ > INT32_MAX / 2) return false;
      std::size_t old_bytes = sizeof(T) * static_cast<std::size_t>(capacity_);
      void* grown = Heap::process()->resize(items_, old_bytes, old_bytes * 2);
      if (!grown) return false;
      items_ = static_cast<T*>(grown);
      capacity_ *= 2;
    }
    items_[count_++] = value;
    return true;
  }

 private:
  T* items_ = nullptr;
  std::int32_t capacity_;
  std::int32_t count_ = 0;
};

}  // namespace json
