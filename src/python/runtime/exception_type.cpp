#include "python/runtime/exception_type.hpp"

#include <string>
#include <utility>

namespace zelk::py {

std::string_view ExceptionType::short_name() const {
  std::string_view name = qualified_name_;
  auto dot = name.rfind('.');
  return dot == std::string_view::npos ? name : name.substr(dot + 1);
}

Result<BorrowedRef> ExceptionType::type() {
  return cache_.get_or_init([this]() -> Result<OwnedRef> {
    OwnedRef made = OwnedRef::steal(PyErr_NewExceptionWithDoc(
        qualified_name_, doc_, base_ != nullptr ? base_ : PyExc_Exception, nullptr));
    if (!made) {
      const std::string why = PyError::fetch().describe();
      return fail(PyError::panic("Failed to initialize new exception type.: " + why));
    }
    return made;
  });
}

PyError ExceptionType::coded(std::string message, std::string code) {
  Result<BorrowedRef> cls = type();
  if (!cls) return std::move(cls).error();
  return PyError::coded(*cls, std::move(message), std::move(code));
}

}  // namespace zelk::py
