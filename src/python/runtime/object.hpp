#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "python/runtime/borrow.hpp"
#include "python/runtime/error.hpp"
#include "python/runtime/frame.hpp"
#include "python/runtime/once.hpp"

namespace zelk::py {

// The layout of an instance of one of the module's classes: the interpreter's header, the
// class's value, then its borrow counter (none for the immutable result classes).
template <class T, class Flag = BorrowFlag>
struct Cell {
  using Value = T;
  PyObject ob_base;
  T value;
  [[no_unique_address]] Flag flag;
};

template <class CellT>
CellT* cell_of(BorrowedRef obj) {
  return reinterpret_cast<CellT*>(obj.get());
}

// The description of one class and its type object, made once per process on first need and
// shared by every module object of the process.
class PyClass {
 public:
  struct Definition {
    const char* name;  // bare name; the type is named "builtins.<name>"
    const char* doc;
    int basicsize;
    newfunc constructor;  // null: instances are made only by the module (refusing constructor)
    destructor dealloc;
    PyMethodDef* methods;  // null-terminated, or null
    PyGetSetDef* getset;   // null-terminated, or null
  };

  explicit PyClass(Definition def) : def_(def), type_name_(std::string("builtins.") + def.name) {}
  PyClass(const PyClass&) = delete;
  PyClass& operator=(const PyClass&) = delete;

  std::string_view name() const { return def_.name; }
  // The type object; a failure to make it is a RuntimeError caused by the interpreter's error.
  [[nodiscard]] Result<BorrowedRef> type();
  // For making an instance after the import: a type that still cannot be made is a panic.
  [[nodiscard]] Result<PyTypeObject*> type_for_instance();
  bool is_instance(BorrowedRef obj);

 private:
  [[nodiscard]] Result<OwnedRef> make_type();

  Definition def_;
  std::string type_name_;  // the interpreter keeps pointing at it: lives as long as the class
  OnceObject cache_;
};

// Allocates an instance through object.__new__ of the class and moves `value` in. When
// allocation fails the value is released here and the interpreter's error is returned.
template <class CellT>
[[nodiscard]] Result<OwnedRef> wrap(PyClass& cls, typename CellT::Value value) {
  ZELK_PY_TRY(PyTypeObject * type, cls.type_for_instance());
  static const auto base_new =
      reinterpret_cast<newfunc>(PyType_GetSlot(&PyBaseObject_Type, Py_tp_new));
  OwnedRef empty = OwnedRef::steal(PyTuple_New(0));
  if (!empty) return fail(PyError::fetch());
  OwnedRef obj = OwnedRef::steal(base_new(type, empty.get(), nullptr));
  if (!obj) return fail(PyError::fetch());
  CellT* cell = cell_of<CellT>(obj.borrow());
  std::construct_at(&cell->value, std::move(value));
  std::construct_at(&cell->flag);
  return obj;
}

// Py_tp_dealloc of every class: release the value, free the memory, drop the instance's
// reference to its heap type.
template <class CellT>
void dealloc(PyObject* obj) {
  run_release([obj] {
    CellT* cell = cell_of<CellT>(BorrowedRef(obj));
    std::destroy_at(&cell->flag);
    std::destroy_at(&cell->value);
    PyTypeObject* type = Py_TYPE(obj);
    auto* free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_fn(obj);
    Py_DECREF(reinterpret_cast<PyObject*>(type));
  });
}

// A shared borrow of an object's value for the length of a call.
template <class CellT>
class SharedBorrow {
 public:
  using Value = typename CellT::Value;
  SharedBorrow(SharedBorrow&& other) noexcept
      : obj_(std::move(other.obj_)), cell_(std::exchange(other.cell_, nullptr)) {}
  SharedBorrow& operator=(SharedBorrow&&) = delete;
  ~SharedBorrow() {
    if (cell_ != nullptr) cell_->flag.release_shared();
  }

  const Value& operator*() const { return cell_->value; }
  const Value* operator->() const { return &cell_->value; }
  BorrowedRef object() const { return obj_.borrow(); }

  [[nodiscard]] static Result<SharedBorrow> acquire(BorrowedRef obj) {
    CellT* cell = cell_of<CellT>(obj);
    ZELK_PY_CHECK(cell->flag.acquire_shared());
    return SharedBorrow(obj, cell);
  }

 private:
  SharedBorrow(BorrowedRef obj, CellT* cell) : obj_(OwnedRef::incref(obj)), cell_(cell) {}
  OwnedRef obj_;
  CellT* cell_;
};

// An exclusive borrow: the one holder may change the value.
template <class CellT>
class ExclusiveBorrow {
 public:
  using Value = typename CellT::Value;
  ExclusiveBorrow(ExclusiveBorrow&& other) noexcept
      : obj_(std::move(other.obj_)), cell_(std::exchange(other.cell_, nullptr)) {}
  ExclusiveBorrow& operator=(ExclusiveBorrow&&) = delete;
  ~ExclusiveBorrow() {
    if (cell_ != nullptr) cell_->flag.release_exclusive();
  }

  Value& operator*() const { return cell_->value; }
  Value* operator->() const { return &cell_->value; }
  BorrowedRef object() const { return obj_.borrow(); }

  [[nodiscard]] static Result<ExclusiveBorrow> acquire(BorrowedRef obj) {
    CellT* cell = cell_of<CellT>(obj);
    ZELK_PY_CHECK(cell->flag.acquire_exclusive());
    return ExclusiveBorrow(obj, cell);
  }

 private:
  ExclusiveBorrow(BorrowedRef obj, CellT* cell) : obj_(OwnedRef::incref(obj)), cell_(cell) {}
  OwnedRef obj_;
  CellT* cell_;
};

template <class CellT>
[[nodiscard]] Result<SharedBorrow<CellT>> borrow_shared(BorrowedRef obj) {
  return SharedBorrow<CellT>::acquire(obj);
}

template <class CellT>
[[nodiscard]] Result<ExclusiveBorrow<CellT>> borrow_exclusive(BorrowedRef obj) {
  return ExclusiveBorrow<CellT>::acquire(obj);
}

// The value of an immutable object, read without a borrow.
template <class CellT>
const typename CellT::Value& frozen_value(BorrowedRef obj) {
  static_assert(std::is_same_v<decltype(CellT::flag), NoBorrowFlag>);
  return cell_of<CellT>(obj)->value;
}

// Converter for an argument that must be an instance of `cls`; the caller borrows it next.
[[nodiscard]] Result<BorrowedRef> to_instance(BorrowedRef obj, PyClass& cls);

}  // namespace zelk::py
