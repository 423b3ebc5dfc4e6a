#include "base/clock.hpp"

#include <time.h>

#include <cerrno>

#include "base/invariant.hpp"

namespace zelk {

std::string ClockError::message() const {
  if (code != 0) return "system clock unreadable (os error " + std::to_string(code) + ")";
  return "system clock reads a time before the unix epoch";
}

std::expected<std::int64_t, ClockError> unix_now_secs() {
  struct timespec ts {};
  if (::clock_gettime(CLOCK_REALTIME, &ts) != 0) return std::unexpected(ClockError{errno});
  if (ts.tv_sec < 0) return std::unexpected(ClockError{0});
  return static_cast<std::int64_t>(ts.tv_sec);
}

std::int64_t now_or_invariant(std::optional<std::int64_t> given, const char* what) {
  if (given) return *given;
  auto now = unix_now_secs();
  if (!now) invariant_failure(what != nullptr ? what : now.error().message().c_str());
  return *now;
}

}  // namespace zelk
