#include "python/runtime/exception_type.hpp"

#include <string>

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

}  // namespace zelk::py
