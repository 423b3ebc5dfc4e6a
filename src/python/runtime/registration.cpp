#include "python/runtime/registration.hpp"

#include <string>

#include "python/runtime/convert.hpp"

// The one interface of the module that interpreters before 3.9 lack. A weak reference lets such an
// interpreter load the shared object, so that the import reaches the version check and names the
// version needed instead of failing in the dynamic loader; 3.10 and later always define it.
#pragma weak PyCMethod_New

namespace zelk::py {
namespace {

[[nodiscard]] PyError describe_panic(std::string_view prefix, const PyError& cause) {
  return PyError::panic(std::string(prefix) + ": " + cause.describe());
}

}  // namespace

Result<void> add_name(BorrowedRef module, std::string_view name, BorrowedRef obj) {
  ZELK_PY_TRY(OwnedRef key, py_str(name));
  OwnedRef all = OwnedRef::steal(PyObject_GetAttrString(module.get(), "__all__"));
  if (!all) {
    if (PyErr_ExceptionMatches(PyExc_AttributeError) == 0) return fail(PyError::fetch());
    PyErr_Clear();
    all = OwnedRef::steal(PyList_New(0));
    if (!all) return fail(PyError::fetch());
    if (PyObject_SetAttrString(module.get(), "__all__", all.get()) != 0)
      return fail(PyError::fetch());
  } else if (!PyList_Check(all.get())) {
    return fail(not_an_instance(all.borrow(), "list"));
  }
  if (PyList_Append(all.get(), key.get()) != 0)
    return fail(describe_panic("could not append __name__ to __all__", PyError::fetch()));
  if (PyObject_SetAttr(module.get(), key.get(), obj.get()) != 0) return fail(PyError::fetch());
  return {};
}

Result<void> add_class_object(BorrowedRef module, PyClass& cls) {
  ZELK_PY_TRY(BorrowedRef type, cls.type());
  return add_name(module, cls.name(), type);
}

Result<void> add_exception_object(BorrowedRef module, ExceptionType& exc) {
  ZELK_PY_TRY(BorrowedRef type, exc.type());
  return add_name(module, exc.short_name(), type);
}

Result<void> add_function_object(BorrowedRef module, PyMethodDef& def) {
  OwnedRef module_name = OwnedRef::steal(PyModule_GetNameObject(module.get()));
  if (!module_name) return fail(PyError::fetch());
  OwnedRef function =
      OwnedRef::steal(PyCMethod_New(&def, module.get(), module_name.get(), nullptr));
  if (!function) return fail(PyError::fetch());
  OwnedRef name = OwnedRef::steal(PyObject_GetAttrString(function.get(), "__name__"));
  if (!name) return fail(PyError::fetch());
  ZELK_PY_TRY(std::string_view text, to_text(name.borrow()));
  return add_name(module, text, function.borrow());
}

}  // namespace zelk::py
