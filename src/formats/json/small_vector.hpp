#pragma once

#include <array>
#include <cstddef>
#include <type_traits>
#include <vector>

namespace zelk::json {

// A vector of trivially copyable elements that keeps its first N elements inline, so the writers'
// work stacks need no heap allocation for values of ordinary size.
template <typename T, std::size_t N>
class SmallVector {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T* data() { return on_heap_ ? heap_.data() : inline_.data(); }
  T& back() { return data()[size_ - 1]; }

  void push_back(const T& item) {
    if (!on_heap_ && size_ < N) {
      inline_[size_++] = item;
      return;
    }
    if (!on_heap_) {
      heap_.reserve(2 * N);
      heap_.assign(inline_.begin(), inline_.begin() + size_);
      on_heap_ = true;
    }
    heap_.resize(size_);  // forget what truncate() dropped
    heap_.push_back(item);
    ++size_;
  }

  void pop_back() { truncate(size_ - 1); }

  // Drops the elements from `n` on; `n` must not exceed size().
  void truncate(std::size_t n) {
    if (n < size_) size_ = n;
  }

 private:
  std::array<T, N> inline_;  // left uninitialised: only [0, size_) is ever read
  std::vector<T> heap_;      // holds every element once the inline part has overflowed
  std::size_t size_ = 0;
  bool on_heap_ = false;
};

}  // namespace zelk::json
