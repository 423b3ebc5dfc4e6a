#pragma once

#include "formats/json/error.hpp"
#include "python/runtime/error.hpp"

namespace zelk::py {

// A JSON writing or reading failure raised as RuntimeError with the error's own text (followed
// by " at line L column C" when it has a position).
[[nodiscard]] PyError json_error_to_runtime_error(const json::JsonError& error);

}  // namespace zelk::py
