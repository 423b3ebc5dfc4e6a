#pragma once

#include <cstdint>

#include "python/runtime/error.hpp"

namespace zelk::py {

// The system clock in whole unix seconds. A clock that cannot be read, or reads before 1970, is
// the platform's fault and is raised as a panic.
Result<std::int64_t> system_now_secs();

}  // namespace zelk::py
