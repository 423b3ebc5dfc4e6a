#pragma once

#include <expected>
#include <source_location>
#include <string>
#include <string_view>

#include "python/runtime/ref.hpp"

namespace zelk::py {

// A failure on its way to the interpreter. Most failures are a class and a message, and the
// exception object is made only when it is raised; one taken from the interpreter is kept as the
// object the interpreter made.
class PyError {
 public:
  [[nodiscard]] static PyError type_error(std::string message) {
    return of(PyExc_TypeError, std::move(message));
  }
  [[nodiscard]] static PyError value_error(std::string message) {
    return of(PyExc_ValueError, std::move(message));
  }
  [[nodiscard]] static PyError runtime_error(std::string message) {
    return of(PyExc_RuntimeError, std::move(message));
  }
  // An exception of `cls` built with `message` as its one argument.
  [[nodiscard]] static PyError of(PyObject* cls, std::string message);
  // The same, with the instance attribute `code` set to `code` when it is raised.
  [[nodiscard]] static PyError coded(BorrowedRef cls, std::string message, std::string code);
  // Takes the interpreter's current exception. Without one that is itself a broken invariant.
  [[nodiscard]] static PyError fetch(std::source_location where = std::source_location::current());
  // A broken invariant: writes the panic report to standard error now and is raised as
  // PanicException carrying `message`.
  [[nodiscard]] static PyError panic(std::string_view message,
                                     std::source_location where = std::source_location::current());

  // True for a panic of our own and for a PanicException that came back out of Python code.
  bool is_panic() const;
  // Adds `note` through the exception's add_note; silently left out where that is missing or
  // fails, so the error itself is never lost.
  [[nodiscard]] PyError with_note(std::string_view note) &&;
  // Sets `cause` as this exception's __cause__.
  [[nodiscard]] PyError caused_by(PyError cause) &&;
  // "<type qualname>: <str(exception)>", for messages that quote a Python failure.
  std::string describe() const;
  // Makes this the interpreter's current exception.
  void restore() &&;

 private:
  enum class Form { Message, Panic, Raised };
  PyError() = default;
  // Builds (or normalises) the exception object; a failure to build it becomes the new error.
  void materialise();

  Form form_ = Form::Message;
  OwnedRef type_;       // Message: the class; Raised: the instance's type
  OwnedRef value_;      // Raised: the exception instance
  OwnedRef traceback_;  // Raised: its traceback, when it has one
  std::string message_;
  std::string code_;
};

template <class T>
using Result = std::expected<T, PyError>;

[[nodiscard]] inline std::unexpected<PyError> fail(PyError error) {
  return std::unexpected(std::move(error));
}

// The text of the str attribute `name` of `obj`, or `fallback` when it cannot be read as a str
// (the lookup's error is cleared).
std::string str_attr_or(BorrowedRef obj, const char* name, std::string_view fallback);
// "<qualname of the type of obj>", or "<failed to extract type name>".
std::string type_name_of(BorrowedRef obj);
// "<qualname of type>", or "<unknown>" when it cannot be read as a str.
std::string qualname_of_type(PyObject* type);

// The PanicException class, made once per process on first need.
BorrowedRef panic_exception_type();

// Takes the exception that a caller's callable (named `callable_name`) just raised. A
// PanicException is no failure of the callable: its notice and traceback go to standard error
// and the returned error is_panic(), for the caller to pass on whatever it does with failures.
[[nodiscard]] PyError take_callback_error(std::string_view callable_name);

// Calls the caller's `callable` (named `callable_name`) with `text` as its one argument, as a str.
// A failure of the call is take_callback_error's; one to make the argument is a panic. The caller
// holds the interpreter lock.
[[nodiscard]] Result<OwnedRef> call_with_text(BorrowedRef callable, std::string_view text,
                                              std::string_view callable_name);

// Reports a Python failure that cannot be raised (the result-object case) and panics.
[[nodiscard]] PyError null_result_panic(
    std::source_location where = std::source_location::current());

}  // namespace zelk::py

#define ZELK_PY_CONCAT_INNER(a, b) a##b
#define ZELK_PY_CONCAT(a, b) ZELK_PY_CONCAT_INNER(a, b)

// `ZELK_PY_TRY(auto x, expr);` : evaluates expr (a Result); on failure returns its error from the
// enclosing function, otherwise binds the value to the declaration.
#define ZELK_PY_TRY(decl, expr) ZELK_PY_TRY_IMPL(ZELK_PY_CONCAT(zelk_try_, __LINE__), decl, expr)
#define ZELK_PY_TRY_IMPL(tmp, decl, expr)                       \
  auto tmp = (expr);                                            \
  if (!tmp) return ::std::unexpected(::std::move(tmp).error()); \
  decl = ::std::move(*tmp)

// `ZELK_PY_CHECK(expr);` for a Result<void>.
#define ZELK_PY_CHECK(expr) ZELK_PY_CHECK_IMPL(ZELK_PY_CONCAT(zelk_check_, __LINE__), expr)
#define ZELK_PY_CHECK_IMPL(tmp, expr) \
  if (auto tmp = (expr); !tmp) return ::std::unexpected(::std::move(tmp).error())
