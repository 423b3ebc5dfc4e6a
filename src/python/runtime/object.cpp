#include "python/runtime/object.hpp"

#include <vector>

#include "python/runtime/convert.hpp"

namespace zelk::py {
namespace {

// Installed on the classes whose instances only the module makes.
PyObject* refusing_new(PyTypeObject* type, PyObject*, PyObject*) {
  return run_entry([type]() -> Result<OwnedRef> {
    const BorrowedRef cls(reinterpret_cast<PyObject*>(type));
    return fail(PyError::type_error("cannot create '" +
                                    str_attr_or(cls, "__module__", "<unknown>") + "." +
                                    qualname_of_type(cls.get()) + "' instances"));
  });
}

}  // namespace

Result<OwnedRef> PyClass::make_type() {
  std::vector<PyType_Slot> slots;
  if (def_.doc != nullptr && def_.doc[0] != '\0')
    slots.push_back({Py_tp_doc, const_cast<char*>(def_.doc)});
  slots.push_back({Py_tp_base, &PyBaseObject_Type});
  newfunc constructor = def_.constructor != nullptr ? def_.constructor : &refusing_new;
  slots.push_back({Py_tp_new, reinterpret_cast<void*>(constructor)});
  slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(def_.dealloc)});
  if (def_.methods != nullptr) slots.push_back({Py_tp_methods, def_.methods});
  if (def_.getset != nullptr) slots.push_back({Py_tp_getset, def_.getset});
  slots.push_back({0, nullptr});

  PyType_Spec type_spec{type_name_.c_str(), def_.basicsize, 0, Py_TPFLAGS_DEFAULT, slots.data()};
  OwnedRef type = OwnedRef::steal(PyType_FromSpec(&type_spec));
  if (!type) {
    PyError cause = PyError::fetch();
    return fail(PyError::runtime_error(std::string("An error occurred while initializing class ") +
                                       def_.name)
                    .caused_by(std::move(cause)));
  }
  return type;
}

Result<BorrowedRef> PyClass::type() {
  return cache_.get_or_init([this] { return make_type(); });
}

Result<PyTypeObject*> PyClass::type_for_instance() {
  Result<BorrowedRef> made = type();
  if (!made) {
    std::move(made).error().restore();
    PyErr_WriteUnraisable(nullptr);
    return fail(
        PyError::panic(std::string("failed to create type object for `") + def_.name + "`"));
  }
  return reinterpret_cast<PyTypeObject*>(made->get());
}

bool PyClass::is_instance(BorrowedRef obj) {
  PyObject* ready = cache_.peek();
  return ready != nullptr &&
         PyType_IsSubtype(Py_TYPE(obj.get()), reinterpret_cast<PyTypeObject*>(ready)) != 0;
}

Result<BorrowedRef> to_instance(BorrowedRef obj, PyClass& cls) {
  if (!cls.is_instance(obj)) return fail(not_an_instance(obj, cls.name()));
  return obj;
}

}  // namespace zelk::py
