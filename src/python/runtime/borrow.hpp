#pragma once

#include <atomic>
#include <cstdint>

#include "python/runtime/error.hpp"

namespace zelk::py {

// The borrow counter of an object with state: 0 free, n > 0 while n shared borrows are held, -1
// while one exclusive borrow is held. Python code run in the middle of a call (a callable, a
// special method, another thread) can reach the same object again; this is what refuses it.
class BorrowFlag {
 public:
  [[nodiscard]] Result<void> acquire_shared() {
    std::intptr_t seen = count_.load(std::memory_order_relaxed);
    while (seen != kExclusive) {
      if (count_.compare_exchange_weak(seen, seen + 1, std::memory_order_acquire,
                                       std::memory_order_relaxed))
        return {};
    }
    return fail(PyError::runtime_error("Already mutably borrowed"));
  }
  void release_shared() { count_.fetch_sub(1, std::memory_order_release); }

  [[nodiscard]] Result<void> acquire_exclusive() {
    std::intptr_t expected = 0;
    if (count_.compare_exchange_strong(expected, kExclusive, std::memory_order_acquire,
                                       std::memory_order_relaxed))
      return {};
    return fail(PyError::runtime_error("Already borrowed"));
  }
  void release_exclusive() { count_.store(0, std::memory_order_release); }

  std::intptr_t load() const { return count_.load(std::memory_order_relaxed); }

 private:
  static constexpr std::intptr_t kExclusive = -1;
  std::atomic<std::intptr_t> count_{0};
};

// For the immutable result classes, which are read without a borrow.
struct NoBorrowFlag {};

}  // namespace zelk::py
