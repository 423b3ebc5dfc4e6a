#include "python/clock.hpp"

#include "base/clock.hpp"

namespace zelk::py {

Result<std::int64_t> system_now_secs() {
  auto now = unix_now_secs();
  if (!now) return fail(PyError::panic(now.error().message()));
  return *now;
}

Result<std::int64_t> given_or_system_now(std::optional<std::int64_t> given) {
  if (given) return *given;
  return system_now_secs();
}

}  // namespace zelk::py
