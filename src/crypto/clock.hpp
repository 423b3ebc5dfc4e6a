#pragma once

#include <cstdint>
#include <expected>
#include <string>

namespace zelk {

// The realtime clock could not be read or reads a time before 1970.
struct ClockError {
  int code = 0;  // errno of clock_gettime, 0 for a time before the epoch
  std::string message() const;
  friend bool operator==(const ClockError&, const ClockError&) = default;
};

// The realtime clock in whole unix seconds.
std::expected<std::int64_t, ClockError> unix_now_secs();

}  // namespace zelk
