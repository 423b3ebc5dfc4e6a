#pragma once

#include <utility>

#include "python/runtime/python.hpp"

namespace zelk::py {

// A reference the holder does not own: valid for as long as whoever lent it keeps it.
class BorrowedRef {
 public:
  BorrowedRef() = default;
  explicit BorrowedRef(PyObject* obj) : obj_(obj) {}

  PyObject* get() const { return obj_; }
  explicit operator bool() const { return obj_ != nullptr; }

 private:
  PyObject* obj_ = nullptr;
};

// A strong reference released when the holder goes away; keeps every Py_DECREF out of the
// method bodies. All holders run with the interpreter lock held.
class OwnedRef {
 public:
  OwnedRef() = default;
  OwnedRef(const OwnedRef& other) : obj_(other.obj_) { Py_XINCREF(obj_); }
  OwnedRef(OwnedRef&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
  OwnedRef& operator=(OwnedRef other) noexcept {
    std::swap(obj_, other.obj_);
    return *this;
  }
  ~OwnedRef() { Py_XDECREF(obj_); }

  // Takes over a new reference (as returned by most API calls); null stays null.
  static OwnedRef steal(PyObject* obj) { return OwnedRef(obj); }
  // Adds a reference of our own to a borrowed one.
  static OwnedRef incref(PyObject* obj) {
    Py_XINCREF(obj);
    return OwnedRef(obj);
  }
  static OwnedRef incref(BorrowedRef obj) { return incref(obj.get()); }

  PyObject* get() const { return obj_; }
  BorrowedRef borrow() const { return BorrowedRef(obj_); }
  explicit operator bool() const { return obj_ != nullptr; }
  // Hands the reference to the caller (the interpreter, usually).
  PyObject* release() { return std::exchange(obj_, nullptr); }

 private:
  explicit OwnedRef(PyObject* obj) : obj_(obj) {}
  PyObject* obj_ = nullptr;
};

}  // namespace zelk::py
