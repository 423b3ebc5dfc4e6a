#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/aid.hpp"
#include "session_bundle/bundle.hpp"
#include "session_bundle/bundle_error.hpp"
#include "tct/revocation_check.hpp"

namespace zelk {

// Who stands after a bundle verified: every participant whose TCT verified, split by the
// revocation check's answer, in participant order (a participant listed twice appears twice).
struct BundleVerification {
  std::vector<std::string> active_aids;
  std::optional<std::vector<std::string>> dropped_aids;  // absent rather than empty
  friend bool operator==(const BundleVerification&, const BundleVerification&) = default;
};

// True when some entry's aid text equals the verifier's byte for byte.
[[nodiscard]] bool find_participant(std::span<const ParticipantEntry> participants,
                                    const Aid& verifier);

// Version, expiry (a bundle expiring at `now` passes), a non-empty list, every participant TCT
// decoded and `expires_at` equal to their least `exp`, the verifier's membership, the
// coordinator's signature, then each participant TCT verified as issued by the coordinator to
// its entry at `now` without skew. After each verified TCT the check, when given, is asked about
// its jti: a revoked participant is dropped, which is not an error. The first failure ends it.
[[nodiscard]] std::expected<BundleVerification, SessionBundleError> verify_bundle(
    const SessionTrustBundle& bundle, const Aid& verifier, std::int64_t now,
    const RevocationCheck* revocation = nullptr);

}  // namespace zelk
