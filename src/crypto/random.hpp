#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>

#include "formats/uuid.hpp"

namespace zelk {

// The operating system's random source could not deliver bytes.
struct RandomError {
  enum class Source { GetRandom, DevUrandom };
  Source source = Source::GetRandom;
  int code = 0;  // errno; 0 when /dev/urandom ended early

  // For example "getrandom failed: Input/output error (os error 5)".
  std::string message() const;
  friend bool operator==(const RandomError&, const RandomError&) = default;
};

// Fills `out` completely from getrandom(2), retrying interrupted and short reads; falls back to
// /dev/urandom on kernels without the call.
[[nodiscard]] std::expected<void, RandomError> random_bytes(std::span<std::uint8_t> out);

// A fresh version-4 UUID from the random source.
[[nodiscard]] std::expected<Uuid, RandomError> new_uuid_v4();

// The caller's id when given, else a fresh version-4 UUID, for code with no error path: a failed
// random source is a broken invariant.
[[nodiscard]] Uuid fresh_uuid_or_invariant(std::optional<Uuid> given);

}  // namespace zelk
