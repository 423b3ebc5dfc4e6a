#include "session_bundle/build.hpp"

#include <algorithm>
#include <utility>

#include "core/envelope.hpp"
#include "crypto/clock.hpp"
#include "crypto/detached.hpp"
#include "crypto/invariant.hpp"
#include "crypto/random.hpp"

namespace zelk {

std::expected<std::string, SessionBundleError> build_session_bundle(
    const SigningKey& coordinator, std::optional<Uuid> session_id,
    std::optional<std::int64_t> issued_at, std::span<const ParticipantEntry> participants) {
  using Kind = SessionBundleError::Kind;
  if (participants.empty()) return std::unexpected(SessionBundleError::of(Kind::EmptyParticipants));

  SessionTrustBundle bundle;
  bundle.version = std::string(kProtocolVersion);
  bundle.coordinator = coordinator.aid();
  if (session_id) {
    bundle.session_id = *session_id;
  } else {
    auto fresh = new_uuid_v4();
    if (!fresh) crypto_detail::invariant_failure("the random source failed");
    bundle.session_id = *fresh;
  }
  if (issued_at) {
    bundle.issued_at = *issued_at;
  } else {
    auto now = unix_now_secs();
    if (!now) crypto_detail::invariant_failure("the system clock failed or reads before 1970");
    bundle.issued_at = *now;
  }

  for (std::size_t i = 0; i < participants.size(); ++i) {
    const ParticipantEntry& entry = participants[i];
    auto claims = decode_participant_tct(entry.tct);
    if (!claims) return std::unexpected(std::move(claims.error()));
    if (claims->iss.text() != bundle.coordinator.text())
      return std::unexpected(SessionBundleError::of(Kind::IssuerMismatch));
    if (claims->aud.text() != entry.aid.text())
      return std::unexpected(SessionBundleError::of(Kind::AudienceMismatch));
    bundle.expires_at = i == 0 ? claims->exp : std::min(bundle.expires_at, claims->exp);
  }
  bundle.participants.assign(participants.begin(), participants.end());

  auto signing_input = bundle_signing_bytes(bundle);
  if (!signing_input) return std::unexpected(std::move(signing_input.error()));
  bundle.signature = sign_detached(coordinator, std::string_view(*signing_input));
  return encode_session_bundle_envelope(bundle);
}

}  // namespace zelk
