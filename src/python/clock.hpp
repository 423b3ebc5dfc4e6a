#pragma once

#include <cstdint>
#include <optional>

#include "python/runtime/error.hpp"

namespace zelk::py {

// The system clock in whole unix seconds. A clock that cannot be read, or reads before 1970, is
// the platform's fault and is raised as a panic.
[[nodiscard]] Result<std::int64_t> system_now_secs();

// The time a caller passed, or else the system clock, read at this point.
[[nodiscard]] Result<std::int64_t> given_or_system_now(std::optional<std::int64_t> given);

}  // namespace zelk::py
