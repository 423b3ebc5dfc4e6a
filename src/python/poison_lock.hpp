#pragma once

#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "python/runtime/error.hpp"

namespace zelk::py {

// A mutex around `T` that turns unusable for good once a holder is interrupted by a broken
// invariant (an exception unwinding through the guard): the data may then be half-changed, so
// every later lock fails with "<name>: PoisonError { .. }", raised as PanicException.
template <class T>
class PoisonLock {
 public:
  class Guard {
   public:
    Guard(Guard&& other) noexcept
        : lock_(std::exchange(other.lock_, nullptr)), exceptions_(other.exceptions_) {}
    Guard& operator=(Guard&&) = delete;
    ~Guard() {
      if (lock_ == nullptr) return;
      if (std::uncaught_exceptions() > exceptions_) lock_->poisoned_ = true;
      lock_->mutex_.unlock();
    }
    T& operator*() const { return lock_->data_; }
    T* operator->() const { return &lock_->data_; }

   private:
    friend class PoisonLock;
    explicit Guard(PoisonLock* lock) : lock_(lock), exceptions_(std::uncaught_exceptions()) {}
    PoisonLock* lock_;
    int exceptions_;
  };

  PoisonLock() = default;
  explicit PoisonLock(T data) : data_(std::move(data)) {}
  // Moves only the data; used before the owner is shared, never while locked.
  PoisonLock(PoisonLock&& other) noexcept
      : data_(std::move(other.data_)), poisoned_(other.poisoned_) {}
  PoisonLock& operator=(PoisonLock&&) = delete;

  // Held only around short map operations, never while Python code runs, so waiting here with
  // the interpreter lock cannot deadlock.
  [[nodiscard]] Result<Guard> lock(std::string_view name) {
    std::optional<Guard> guard = lock_unless_poisoned();
    if (!guard) return fail(PyError::panic(std::string(name) + ": PoisonError { .. }"));
    return std::move(*guard);
  }

  // The same for owners that report a poisoned lock in their own words: nothing when poisoned.
  std::optional<Guard> lock_unless_poisoned() {
    mutex_.lock();
    if (poisoned_) {
      mutex_.unlock();
      return std::nullopt;
    }
    return Guard(this);
  }

 private:
  T data_{};
  std::mutex mutex_;
  bool poisoned_ = false;
};

}  // namespace zelk::py
