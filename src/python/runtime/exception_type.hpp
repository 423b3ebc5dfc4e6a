#pragma once

#include <string>
#include <string_view>

#include "python/runtime/error.hpp"
#include "python/runtime/once.hpp"

namespace zelk::py {

// An exception class of the module, made once per process with PyErr_NewExceptionWithDoc (so its
// __module__ is the part of the qualified name before the last dot).
class ExceptionType {
 public:
  ExceptionType(const char* qualified_name, const char* doc, PyObject* base)
      : qualified_name_(qualified_name), doc_(doc), base_(base) {}
  ExceptionType(const ExceptionType&) = delete;
  ExceptionType& operator=(const ExceptionType&) = delete;

  // The name it is registered under: the qualified name after its last dot.
  std::string_view short_name() const;
  // The class; the interpreter refusing to make it is a broken invariant (a panic).
  [[nodiscard]] Result<BorrowedRef> type();
  // An instance to raise with `message` as its one argument and `code` as its attribute `code`.
  [[nodiscard]] PyError coded(std::string message, std::string code);

 private:
  const char* qualified_name_;
  const char* doc_;
  PyObject* base_;
  OnceObject cache_;
};

}  // namespace zelk::py
