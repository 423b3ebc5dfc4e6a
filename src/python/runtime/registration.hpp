#pragma once

#include <string_view>

#include "python/runtime/error.hpp"
#include "python/runtime/exception_type.hpp"
#include "python/runtime/object.hpp"

namespace zelk::py {

// One step of a module's execution step: adds one name to the module and to its __all__.
using AddEntry = Result<void> (*)(BorrowedRef module);

// Appends `name` to the module's __all__ (made on first use), then sets `module.<name> = obj`.
[[nodiscard]] Result<void> add_name(BorrowedRef module, std::string_view name, BorrowedRef obj);

// A class under its bare name, its type made on first need.
[[nodiscard]] Result<void> add_class_object(BorrowedRef module, PyClass& cls);
// An exception type under the last part of its qualified name.
[[nodiscard]] Result<void> add_exception_object(BorrowedRef module, ExceptionType& exc);
// A module function, bound to the module, under the name its own __name__ reads.
[[nodiscard]] Result<void> add_function_object(BorrowedRef module, PyMethodDef& def);

// The three kinds of entry, each named by the accessor of its process-wide object, so a table
// of them lists one name per line.
template <PyClass& (*Get)()>
[[nodiscard]] Result<void> add_class(BorrowedRef module) {
  return add_class_object(module, Get());
}

template <ExceptionType& (*Get)()>
[[nodiscard]] Result<void> add_exception(BorrowedRef module) {
  return add_exception_object(module, Get());
}

template <PyMethodDef& (*Get)()>
[[nodiscard]] Result<void> add_function(BorrowedRef module) {
  return add_function_object(module, Get());
}

// Runs the entries in order; the first failure stops it and is the module's import error.
template <std::size_t N>
[[nodiscard]] Result<void> add_entries(BorrowedRef module, const AddEntry (&entries)[N]) {
  for (AddEntry add : entries) ZELK_PY_CHECK(add(module));
  return {};
}

}  // namespace zelk::py
