#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>

#include "crypto/keys.hpp"
#include "formats/uuid.hpp"
#include "session_bundle/bundle.hpp"
#include "session_bundle/bundle_error.hpp"

namespace zelk {

// Binds the participants to their TCTs and signs them with the coordinator's key; returns the
// SessionBundleEnvelope text. Each TCT is decoded, not verified: its `iss` must be the
// coordinator's AID text and its `aud` the entry's, byte for byte; `expires_at` becomes the
// least `exp`. An absent session id is a fresh version-4 UUID, an absent issue time the clock's
// (neither is drawn when the list is empty). Built bundles carry no extensions.
[[nodiscard]] std::expected<std::string, SessionBundleError> build_session_bundle(
    const SigningKey& coordinator, std::optional<Uuid> session_id,
    std::optional<std::int64_t> issued_at, std::span<const ParticipantEntry> participants);

}  // namespace zelk
