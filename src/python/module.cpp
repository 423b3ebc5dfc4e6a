// Entry of the extension module: the one exported symbol and the module definition it hands to
// the interpreter, whose single execution step registers every class, function and exception.
#include "python/registry.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/frame.hpp"
#include "python/runtime/interpreter_version.hpp"

namespace zelk::py {
namespace {

int exec_module(PyObject* module) {
  // Before anything else: on an interpreter older than the ABI the module is built for, even the
  // entry frame may touch objects laid out differently.
  if (!require_supported_interpreter()) return -1;
  return run_status_entry([module]() -> Result<void> {
    if (module == nullptr) return fail(PyError::fetch());
    if (!PyModule_Check(module)) return fail(not_an_instance(BorrowedRef(module), "module"));
    return register_module_entries(BorrowedRef(module));
  });
}

PyModuleDef_Slot g_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

// No per-module state and no traverse, clear or free: nothing runs when the module goes away.
PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "zelk",
    "The `zelk` Python module.",
    0,
    nullptr,
    g_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace zelk::py

PyMODINIT_FUNC PyInit_zelk() {
  return PyModuleDef_Init(&zelk::py::g_module_def);
}
