#pragma once

#include "python/runtime/frame.hpp"

namespace zelk::py {

// The bodies of entry points, free of the C calling conventions: each returns a new reference
// or an error, and the trampolines below run it inside the entry frame.
using MethodBody = Result<OwnedRef> (*)(BorrowedRef self, Call call);
using FunctionBody = Result<OwnedRef> (*)(Call call);
using NoArgsBody = Result<OwnedRef> (*)(BorrowedRef self);
using GetterBody = Result<OwnedRef> (*)(BorrowedRef self);
using ConstructorBody = Result<OwnedRef> (*)(PyTypeObject* type, Call call);

namespace detail {

template <MethodBody Body>
PyObject* method_entry(PyObject* self, PyObject* args, PyObject* kwargs) {
  return run_entry([=] {
    return Body(BorrowedRef(self), Call{BorrowedRef(args), BorrowedRef(kwargs)});
  });
}

template <FunctionBody Body>
PyObject* function_entry(PyObject*, PyObject* args, PyObject* kwargs) {
  return run_entry([=] { return Body(Call{BorrowedRef(args), BorrowedRef(kwargs)}); });
}

template <NoArgsBody Body>
PyObject* noargs_entry(PyObject* self, PyObject*) {
  return run_entry([=] { return Body(BorrowedRef(self)); });
}

template <GetterBody Body>
PyObject* getter_entry(PyObject* self, void*) {
  return run_entry([=] { return Body(BorrowedRef(self)); });
}

template <ConstructorBody Body>
PyObject* constructor_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return run_entry([=] { return Body(type, Call{BorrowedRef(args), BorrowedRef(kwargs)}); });
}

// The method table stores every C function as PyCFunction; the flags tell the interpreter the
// real signature.
template <class Fn>
PyCFunction as_cfunction(Fn fn) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}

}  // namespace detail

// A method called on an instance with positional and keyword arguments.
template <MethodBody Body>
PyMethodDef method(const char* name, const char* doc) {
  return {name, detail::as_cfunction(&detail::method_entry<Body>), METH_VARARGS | METH_KEYWORDS,
          doc};
}

// A method of the class that receives no instance (callable on the class and on instances).
template <FunctionBody Body>
PyMethodDef static_method(const char* name, const char* doc) {
  return {name, detail::as_cfunction(&detail::function_entry<Body>),
          METH_VARARGS | METH_KEYWORDS | METH_STATIC, doc};
}

// A module function: a static method record bound to the module, so its __self__ reads None.
template <FunctionBody Body>
PyMethodDef module_function(const char* name, const char* doc) {
  return static_method<Body>(name, doc);
}

// A method that takes no argument besides the instance; the interpreter refuses any other.
template <NoArgsBody Body>
PyMethodDef noargs_method(const char* name, const char* doc) {
  return {name, detail::as_cfunction(&detail::noargs_entry<Body>), METH_NOARGS, doc};
}

// A read-only property: no setter, so assignment and deletion raise AttributeError.
template <GetterBody Body>
PyGetSetDef property(const char* name, const char* doc) {
  return {name, &detail::getter_entry<Body>, nullptr, doc, nullptr};
}

template <ConstructorBody Body>
newfunc constructor() {
  return &detail::constructor_entry<Body>;
}

inline constexpr PyMethodDef kEndOfMethods{nullptr, nullptr, 0, nullptr};
inline constexpr PyGetSetDef kEndOfProperties{nullptr, nullptr, nullptr, nullptr, nullptr};

}  // namespace zelk::py
