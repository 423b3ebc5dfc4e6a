#pragma once

#include "python/runtime/registration.hpp"

namespace zelk::py {

// Adds the module's classes, functions and exceptions in their fixed order (also the order of
// __all__); the first failure stops it.
[[nodiscard]] Result<void> register_module_entries(BorrowedRef module);

}  // namespace zelk::py
