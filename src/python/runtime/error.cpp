#include "python/runtime/error.hpp"

#include <cstdlib>

#include "python/runtime/convert.hpp"
#include "python/runtime/once.hpp"
#include "python/runtime/panic.hpp"

namespace zelk::py {
namespace {

constexpr const char* kPanicDoc =
    "Raised when native code called from Python hits a broken internal invariant.\n"
    "\n"
    "It derives from BaseException, as SystemExit does, so that ordinary `except Exception`\n"
    "handlers let it through and it usually travels to the top and ends the interpreter.";

OnceObject g_panic_type;

OwnedRef text_object(std::string_view text) {
  // Messages quote caller input; replace rather than fail on anything that is not UTF-8.
  return OwnedRef::steal(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

}  // namespace

PyError PyError::of(PyObject* cls, std::string message) {
  PyError error;
  error.form_ = Form::Message;
  error.type_ = OwnedRef::incref(cls);
  error.message_ = std::move(message);
  return error;
}

PyError PyError::coded(BorrowedRef cls, std::string message, std::string code) {
  PyError error = of(cls.get(), std::move(message));
  error.code_ = std::move(code);
  return error;
}

PyError PyError::fetch(std::source_location where) {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) return panic("interpreter call failed without setting an exception", where);
  PyError error;
  error.form_ = Form::Raised;
  error.type_ = OwnedRef::steal(type);
  error.value_ = OwnedRef::steal(value);
  error.traceback_ = OwnedRef::steal(traceback);
  return error;
}

PyError PyError::panic(std::string_view message, std::source_location where) {
  write_panic_report(message, where);
  PyError error;
  error.form_ = Form::Panic;
  error.message_ = std::string(message);
  return error;
}

PyError take_callback_error(std::string_view callable_name) {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (type != nullptr && PyErr_GivenExceptionMatches(type, panic_exception_type().get()) != 0) {
    const std::string notice =
        std::string(callable_name) + " raised PanicException; the panic continues\n";
    PySys_WriteStderr("%s", notice.c_str());
    PyErr_Display(type, value, traceback);
  }
  PyErr_Restore(type, value, traceback);
  return PyError::fetch();
}

Result<OwnedRef> call_with_text(BorrowedRef callable, std::string_view text,
                                std::string_view callable_name) {
  ZELK_PY_TRY(OwnedRef arg, py_str(text));
  OwnedRef result =
      OwnedRef::steal(PyObject_CallFunctionObjArgs(callable.get(), arg.get(), nullptr));
  if (!result) return fail(take_callback_error(callable_name));
  return result;
}

bool PyError::is_panic() const {
  if (form_ == Form::Panic) return true;
  PyObject* panic_type = g_panic_type.peek();
  return form_ == Form::Raised && panic_type != nullptr &&
         PyErr_GivenExceptionMatches(type_.get(), panic_type) != 0;
}

void PyError::materialise() {
  if (form_ == Form::Raised) {
    PyObject* type = type_.release();
    PyObject* value = value_.release();
    PyObject* traceback = traceback_.release();
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value != nullptr && traceback != nullptr) PyException_SetTraceback(value, traceback);
    type_ = OwnedRef::steal(type);
    value_ = OwnedRef::steal(value);
    traceback_ = OwnedRef::steal(traceback);
    return;
  }
  BorrowedRef cls = form_ == Form::Panic ? panic_exception_type() : type_.borrow();
  OwnedRef text = text_object(message_);
  OwnedRef instance;
  if (text)
    instance = OwnedRef::steal(PyObject_CallFunctionObjArgs(cls.get(), text.get(), nullptr));
  if (!instance) {
    *this = fetch();
    materialise();
    return;
  }
  if (!code_.empty()) {
    // The code is an extra for callers; an exception that refuses it still goes out.
    OwnedRef code = text_object(code_);
    if (!code || PyObject_SetAttrString(instance.get(), "code", code.get()) != 0) PyErr_Clear();
  }
  form_ = Form::Raised;
  type_ = OwnedRef::incref(reinterpret_cast<PyObject*>(Py_TYPE(instance.get())));
  value_ = std::move(instance);
  traceback_ = OwnedRef();
}

PyError PyError::with_note(std::string_view note) && {
  materialise();
  OwnedRef add_note = OwnedRef::steal(PyObject_GetAttrString(value_.get(), "add_note"));
  OwnedRef text = add_note ? text_object(note) : OwnedRef();
  OwnedRef done;
  if (text)
    done = OwnedRef::steal(PyObject_CallFunctionObjArgs(add_note.get(), text.get(), nullptr));
  if (!done) PyErr_Clear();
  return std::move(*this);
}

PyError PyError::caused_by(PyError cause) && {
  materialise();
  cause.materialise();
  PyException_SetCause(value_.get(), cause.value_.release());
  return std::move(*this);
}

std::string PyError::describe() const {
  PyError copy = *this;
  copy.materialise();
  std::string out = qualname_of_type(copy.type_.get());
  out += ": ";
  OwnedRef text = OwnedRef::steal(PyObject_Str(copy.value_.get()));
  Py_ssize_t size = 0;
  const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();
    out += "<exception str() failed>";
  } else {
    out.append(utf8, static_cast<std::size_t>(size));
  }
  return out;
}

void PyError::restore() && {
  materialise();
  PyErr_Restore(type_.release(), value_.release(), traceback_.release());
}

std::string str_attr_or(BorrowedRef obj, const char* name, std::string_view fallback) {
  OwnedRef value = OwnedRef::steal(PyObject_GetAttrString(obj.get(), name));
  if (value && PyUnicode_Check(value.get())) {
    Py_ssize_t size = 0;
    if (const char* text = PyUnicode_AsUTF8AndSize(value.get(), &size))
      return std::string(text, static_cast<std::size_t>(size));
  }
  PyErr_Clear();
  return std::string(fallback);
}

std::string type_name_of(BorrowedRef obj) {
  return str_attr_or(BorrowedRef(reinterpret_cast<PyObject*>(Py_TYPE(obj.get()))), "__qualname__",
                     "<failed to extract type name>");
}

std::string qualname_of_type(PyObject* type) {
  return str_attr_or(BorrowedRef(type), "__qualname__", "<unknown>");
}

BorrowedRef panic_exception_type() {
  Result<BorrowedRef> type = g_panic_type.get_or_init([]() -> Result<OwnedRef> {
    OwnedRef made = OwnedRef::steal(
        PyErr_NewExceptionWithDoc("zelk.PanicException", kPanicDoc, PyExc_BaseException, nullptr));
    if (!made) return fail(PyError::fetch());
    return made;
  });
  if (!type) {
    // Without this class no panic can reach Python at all.
    write_panic_report("Failed to initialize new exception type.", std::source_location::current());
    abort_at_boundary();
  }
  return *type;
}

PyError null_result_panic(std::source_location where) {
  if (PyErr_Occurred() != nullptr) PyErr_WriteUnraisable(nullptr);
  return PyError::panic("PyObject pointer is null", where);
}

}  // namespace zelk::py
