#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>

namespace zelk {

// The realtime clock could not be read or reads a time before 1970.
struct ClockError {
  int code = 0;  // errno of clock_gettime, 0 for a time before the epoch
  std::string message() const;
  friend bool operator==(const ClockError&, const ClockError&) = default;
};

// The realtime clock in whole unix seconds.
[[nodiscard]] std::expected<std::int64_t, ClockError> unix_now_secs();

// The caller's time when given, else the clock, for code with no error path: a failed clock is a
// broken invariant, told as `what` or, when that is null, as the clock's own message.
std::int64_t now_or_invariant(std::optional<std::int64_t> given, const char* what = nullptr);

// What the token and bundle builders tell of a failed clock.
inline constexpr char kClockFailedText[] = "the system clock failed or reads before 1970";

}  // namespace zelk
