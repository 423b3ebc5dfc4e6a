#include "python/json_errors.hpp"

namespace zelk::py {

PyError json_error_to_runtime_error(const json::JsonError& error) {
  return PyError::runtime_error(error.full());
}

}  // namespace zelk::py
