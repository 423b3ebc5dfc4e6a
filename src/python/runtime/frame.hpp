#pragma once

#include <exception>
#include <new>
#include <source_location>
#include <string>
#include <utility>

#include "python/runtime/error.hpp"
#include "python/runtime/panic.hpp"

namespace zelk::py {

// The arguments of a METH_VARARGS | METH_KEYWORDS call: a tuple and a dict or null.
struct Call {
  BorrowedRef args;
  BorrowedRef kwargs;
};

namespace detail {

// Turns a C++ exception that reached the boundary into a panic (raised as PanicException).
[[nodiscard]] inline PyError panic_from_current_exception(std::source_location where) {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return PyError::panic("out of memory", where);
  } catch (const std::exception& e) {
    return PyError::panic(e.what(), where);
  } catch (...) {
    return PyError::panic("unknown C++ exception", where);
  }
}

}  // namespace detail

// The frame every entry from the interpreter runs in: the body's result is handed over, its error
// raised, and nothing thrown inside ever reaches the interpreter. Should raising itself throw, the
// process reports it and aborts.
template <class Body>
PyObject* run_entry(Body&& body,
                    std::source_location where = std::source_location::current()) noexcept {
  try {
    try {
      Result<OwnedRef> result = body();
      if (result) {
        if (*result) return result->release();
        null_result_panic(where).restore();
        return nullptr;
      }
      std::move(result).error().restore();
    } catch (...) {
      detail::panic_from_current_exception(where).restore();
    }
    return nullptr;
  } catch (...) {
    abort_at_boundary();
  }
}

// The same frame for the module's execution step: 0 on success, -1 with an exception set.
template <class Body>
int run_status_entry(Body&& body,
                     std::source_location where = std::source_location::current()) noexcept {
  try {
    try {
      Result<void> result = body();
      if (result) return 0;
      std::move(result).error().restore();
    } catch (...) {
      detail::panic_from_current_exception(where).restore();
    }
    return -1;
  } catch (...) {
    abort_at_boundary();
  }
}

// The frame of object release: nothing can be raised from there, so any failure aborts.
template <class Body>
void run_release(Body&& body) noexcept {
  try {
    body();
  } catch (...) {
    abort_at_boundary();
  }
}

}  // namespace zelk::py
