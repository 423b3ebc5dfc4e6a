#pragma once

#include <atomic>
#include <mutex>

#include "python/runtime/error.hpp"

namespace zelk::py {

// One Python object made at most once per process and kept until the process ends (the module's
// type objects and exception types). A thread that finds another thread making it waits without
// the interpreter lock, so the maker can go on running Python code.
class OnceObject {
 public:
  // `make` runs with the interpreter lock held and returns Result<OwnedRef>. When it fails the
  // slot stays empty and a later call tries again.
  template <class Make>
  [[nodiscard]] Result<BorrowedRef> get_or_init(Make&& make) {
    if (PyObject* ready = value_.load(std::memory_order_acquire)) return BorrowedRef(ready);
    if (!mutex_.try_lock()) {
      PyThreadState* saved = PyEval_SaveThread();
      mutex_.lock();
      PyEval_RestoreThread(saved);
    }
    std::lock_guard<std::mutex> held(mutex_, std::adopt_lock);
    if (PyObject* ready = value_.load(std::memory_order_acquire)) return BorrowedRef(ready);
    Result<OwnedRef> made = make();
    if (!made) return fail(std::move(made).error());
    PyObject* obj = made->release();
    value_.store(obj, std::memory_order_release);
    return BorrowedRef(obj);
  }

  // The object when it has been made, else null.
  PyObject* peek() const { return value_.load(std::memory_order_acquire); }

 private:
  std::mutex mutex_;
  std::atomic<PyObject*> value_{nullptr};
};

}  // namespace zelk::py
